// Port notices on Linux: inotify on <root>/dev, where udev (or the simulator)
// creates and removes the ttys' nodes, and an eventfd to wake the wait.
#include "serial/PortNotices.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cstring>

namespace fwup {

namespace {

// A file descriptor closed when it goes.
class CFd {
public:
    explicit CFd(int fd) : m_fd(fd) {}
    ~CFd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

class CInotifyNotices final : public IPortNotices {
public:
    explicit CInotifyNotices(const std::string& strRoot)
        : m_strDev((strRoot.empty() || strRoot.back() != '/' ? strRoot + "/" : strRoot) + "dev"),
          m_inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          m_wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        if (m_inotify.Get() >= 0) {
            // No folder yet (a fresh root): the periodic scan covers it.
            ::inotify_add_watch(m_inotify.Get(), m_strDev.c_str(),
                                IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB);
        }
    }

    bool Wait(uint32_t dwTimeoutMs, std::vector<std::string>& goneNodes) override {
        std::array<pollfd, 2> fds = {pollfd{m_inotify.Get(), POLLIN, 0},
                                     pollfd{m_wake.Get(), POLLIN, 0}};
        if (::poll(fds.data(), fds.size(), static_cast<int>(dwTimeoutMs)) <= 0) {
            return false;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            uint64_t nCount = 0;
            [[maybe_unused]] const ssize_t n = ::read(m_wake.Get(), &nCount, sizeof nCount);
        }
        bool bNotice = false;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t nRead = ::read(m_inotify.Get(), buffer, sizeof buffer);
            if (nRead <= 0) {
                break;
            }
            bNotice = true;
            for (ssize_t nAt = 0; nAt + static_cast<ssize_t>(sizeof(inotify_event)) <= nRead;) {
                inotify_event event;
                std::memcpy(&event, buffer + nAt, sizeof event);
                if ((event.mask & (IN_DELETE | IN_MOVED_FROM)) != 0 && event.len > 0) {
                    // The name is NUL-padded to its record's length.
                    goneNodes.push_back(m_strDev + "/" +
                                        std::string(buffer + nAt + sizeof(inotify_event)));
                }
                nAt += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
            }
        }
        return bNotice;
    }

    void Wake() override {
        const uint64_t nOne = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake.Get(), &nOne, sizeof nOne);
    }

private:
    std::string m_strDev;
    CFd m_inotify;
    CFd m_wake;
};

} // namespace

std::unique_ptr<IPortNotices> MakePortNotices(const std::string& strRoot) {
    return std::make_unique<CInotifyNotices>(strRoot);
}

uint32_t PortScanIntervalMs() {
    return 1000;
}

} // namespace fwup
