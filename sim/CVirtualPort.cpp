#include "sim/CVirtualPort.h"

#include "sim/UsbSysfs.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace fwsim {

namespace {

using Clock = std::chrono::steady_clock;

// 115200 baud, 8N1: ten bit times per byte, 11,520 bytes per second.
constexpr int64_t kNsPerByte = 1'000'000'000 / 11'520;
// Paced output goes out in chunks this small so the rate stays even.
constexpr size_t kPacedChunk = 16;

Clock::duration WireTime(size_t nBytes) {
    return std::chrono::nanoseconds(static_cast<int64_t>(nBytes) * kNsPerByte);
}

void CloseFd(int& hFd) {
    if (hFd >= 0) {
        close(hFd);
        hFd = -1;
    }
}

int MsUntil(Clock::time_point tpDeadline) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(tpDeadline - Clock::now()).count();
    return ms <= 0 ? 0 : static_cast<int>(std::min<int64_t>(ms, 1'000'000));
}

} // namespace

struct CVirtualPort::Impl {
    VirtualPortConfig config;
    mutable std::mutex mutex;
    std::condition_variable cvUsers;
    int hMaster = -1;
    int hSlaveHeld = -1;
    int hCloseRead = -1; // becomes readable when Unplug starts: wakes every waiter
    int hCloseWrite = -1;
    int hInterrupt = -1; // eventfd for Interrupt(), lives as long as the object
    int nUsers = 0;
    bool bClosing = false;
    std::string strSlavePath;
    std::string strError;
    Clock::time_point tpTxFree{}; // when the simulated wire is free for the next byte out
    Clock::time_point tpRxFree{}; // when the host's bytes read so far have fully arrived

    struct Use {
        int hMaster = -1;
        int hSlave = -1;
        int hClose = -1;
    };

    bool Acquire(Use& use) {
        std::lock_guard lock(mutex);
        if (hMaster < 0 || bClosing) {
            return false;
        }
        ++nUsers;
        use = Use{hMaster, hSlaveHeld, hCloseRead};
        return true;
    }

    void Release() {
        std::lock_guard lock(mutex);
        --nUsers;
        cvUsers.notify_all();
    }

    // Sleeps until tpUntil; false when the port is being unplugged meanwhile.
    static bool SleepUntil(int hClose, Clock::time_point tpUntil) {
        for (;;) {
            const int nWait = MsUntil(tpUntil);
            if (nWait == 0 && Clock::now() >= tpUntil) {
                return true;
            }
            pollfd fd{hClose, POLLIN, 0};
            const int r = poll(&fd, 1, std::max(nWait, 1));
            if (r > 0) {
                return false;
            }
            if (r < 0 && errno != EINTR) {
                return false;
            }
        }
    }
};

CVirtualPort::CVirtualPort(VirtualPortConfig config) : m_pImpl(std::make_unique<Impl>()) {
    m_pImpl->config = std::move(config);
    m_pImpl->hInterrupt = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

CVirtualPort::~CVirtualPort() {
    Unplug();
    CloseFd(m_pImpl->hInterrupt);
}

bool CVirtualPort::Plug() {
    std::string strTty, strProduct;
    {
        std::lock_guard lock(m_pImpl->mutex);
        strTty = m_pImpl->config.strTtyName;
        strProduct = m_pImpl->config.strProduct;
    }
    return Plug(strTty, strProduct);
}

bool CVirtualPort::Plug(const std::string& strTtyName, const std::string& strProduct,
                        const std::string& strWaiting) {
    Unplug();
    Impl& impl = *m_pImpl;
    int hMaster = -1, hSlave = -1;
    int hPipe[2] = {-1, -1};
    char szName[128] = {};
    auto fail = [&](const std::string& strWhat) {
        const int nErr = errno;
        CloseFd(hMaster);
        CloseFd(hSlave);
        CloseFd(hPipe[0]);
        CloseFd(hPipe[1]);
        std::lock_guard lock(impl.mutex);
        impl.strError = strWhat;
        errno = nErr;
        return false;
    };

    hMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (hMaster < 0) {
        return fail(std::string("posix_openpt: ") + std::strerror(errno));
    }
    if (grantpt(hMaster) != 0 || unlockpt(hMaster) != 0 ||
        ptsname_r(hMaster, szName, sizeof(szName)) != 0) {
        return fail(std::string("pty setup: ") + std::strerror(errno));
    }
    hSlave = open(szName, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (hSlave < 0) {
        return fail(std::string("open ") + szName + ": " + std::strerror(errno));
    }
    // Raw before anyone can see the port: no echo, no CR/LF translation.
    termios tio{};
    if (tcgetattr(hSlave, &tio) != 0) {
        return fail(std::string("tcgetattr: ") + std::strerror(errno));
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    if (tcsetattr(hSlave, TCSANOW, &tio) != 0) {
        return fail(std::string("tcsetattr: ") + std::strerror(errno));
    }
    if (pipe2(hPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return fail(std::string("pipe2: ") + std::strerror(errno));
    }
    // Queued before the port is listed, so no host can open it ahead of them.
    if (!strWaiting.empty() && write(hMaster, strWaiting.data(), strWaiting.size()) !=
                                   static_cast<ssize_t>(strWaiting.size())) {
        return fail(std::string("write: ") + std::strerror(errno));
    }

    UsbSerialEntry entry;
    {
        std::lock_guard lock(impl.mutex);
        impl.config.strTtyName = strTtyName;
        impl.config.strProduct = strProduct;
        entry.strRoot = impl.config.strRoot;
        entry.strUsbPath = impl.config.strUsbPath;
        entry.strTtyName = strTtyName;
        entry.strProduct = strProduct;
        entry.strSerial = impl.config.strSerial;
        entry.strVendorId = impl.config.strVendorId;
        entry.strProductId = impl.config.strProductId;
        entry.strInterface = impl.config.strInterface;
        entry.strSlavePath = szName;
    }
    std::string strError;
    if (!PublishUsbSerial(entry, strError)) {
        errno = EIO;
        return fail(strError);
    }

    std::lock_guard lock(impl.mutex);
    impl.hMaster = hMaster;
    impl.hSlaveHeld = hSlave;
    impl.hCloseRead = hPipe[0];
    impl.hCloseWrite = hPipe[1];
    impl.strSlavePath = szName;
    impl.strError.clear();
    impl.tpTxFree = impl.tpRxFree = Clock::now();
    return true;
}

void CVirtualPort::Unplug() {
    Impl& impl = *m_pImpl;
    std::unique_lock lock(impl.mutex);
    if (impl.hMaster < 0 || impl.bClosing) {
        // Another thread is already unplugging: wait until it is done.
        impl.cvUsers.wait(lock, [&] { return !impl.bClosing; });
        return;
    }
    impl.bClosing = true;
    RemoveUsbSerial(impl.config.strRoot, impl.config.strUsbPath, impl.config.strTtyName);
    const char c = 'x';
    [[maybe_unused]] const ssize_t n = write(impl.hCloseWrite, &c, 1);
    impl.cvUsers.wait(lock, [&] { return impl.nUsers == 0; });
    // Closing the master hangs up the host's side; the held slave goes with it.
    CloseFd(impl.hMaster);
    CloseFd(impl.hSlaveHeld);
    CloseFd(impl.hCloseRead);
    CloseFd(impl.hCloseWrite);
    impl.strSlavePath.clear();
    impl.bClosing = false;
    impl.cvUsers.notify_all();
}

bool CVirtualPort::IsPlugged() const {
    std::lock_guard lock(m_pImpl->mutex);
    return m_pImpl->hMaster >= 0 && !m_pImpl->bClosing;
}

ssize_t CVirtualPort::Receive(uint8_t* pBuffer, size_t nMax, int nTimeoutMs) {
    Impl& impl = *m_pImpl;
    Impl::Use use;
    if (!impl.Acquire(use)) {
        return -1;
    }
    const bool bPaced = impl.config.bPaced;
    const auto tpDeadline = Clock::now() + std::chrono::milliseconds(std::max(nTimeoutMs, 0));
    ssize_t nResult = 0;
    for (;;) {
        pollfd fds[3] = {
            {use.hMaster, POLLIN, 0}, {use.hClose, POLLIN, 0}, {impl.hInterrupt, POLLIN, 0}};
        const int nWait = nTimeoutMs < 0 ? -1 : MsUntil(tpDeadline);
        const int r = poll(fds, 3, nWait);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            nResult = -1;
            break;
        }
        if (fds[1].revents != 0) {
            nResult = -1;
            break;
        }
        if (fds[2].revents != 0) {
            uint64_t qwCount = 0;
            [[maybe_unused]] const ssize_t n = read(impl.hInterrupt, &qwCount, sizeof(qwCount));
            break;
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = read(use.hMaster, pBuffer, nMax);
            if (n > 0) {
                nResult = n;
                break;
            }
        } else if (fds[0].revents != 0) {
            // Cannot happen while the held slave is open; never spin on it anyway.
            if (!Impl::SleepUntil(use.hClose, Clock::now() + std::chrono::milliseconds(10))) {
                nResult = -1;
                break;
            }
        }
        if (r == 0 || (nTimeoutMs >= 0 && Clock::now() >= tpDeadline)) {
            break;
        }
    }
    if (nResult > 0 && bPaced) {
        // The host's write lands in the pty at once; on the wire these bytes take
        // their time, so hand them over only when the last one would have arrived.
        Clock::time_point tpDone;
        {
            std::lock_guard lock(impl.mutex);
            impl.tpRxFree = std::max(impl.tpRxFree, Clock::now()) + WireTime(nResult);
            tpDone = impl.tpRxFree;
        }
        if (!Impl::SleepUntil(use.hClose, tpDone)) {
            nResult = -1;
        }
    }
    impl.Release();
    return nResult;
}

bool CVirtualPort::Send(const uint8_t* pData, size_t nCount) {
    Impl& impl = *m_pImpl;
    Impl::Use use;
    if (!impl.Acquire(use)) {
        return false;
    }
    const bool bPaced = impl.config.bPaced;
    bool bOk = true;
    size_t nDone = 0;
    while (bOk && nDone < nCount) {
        size_t nChunk = nCount - nDone;
        if (bPaced) {
            nChunk = std::min(nChunk, kPacedChunk);
            Clock::time_point tpStart;
            {
                std::lock_guard lock(impl.mutex);
                tpStart = impl.tpTxFree;
            }
            if (!Impl::SleepUntil(use.hClose, tpStart)) {
                bOk = false;
                break;
            }
        }
        size_t nWritten = 0;
        while (nWritten < nChunk) {
            const ssize_t n = write(use.hMaster, pData + nDone + nWritten, nChunk - nWritten);
            if (n > 0) {
                nWritten += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                bOk = false;
                break;
            }
            // The host does not read and the pty is full: wait for room or the unplug.
            pollfd fds[2] = {{use.hMaster, POLLOUT, 0}, {use.hClose, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 && errno != EINTR) {
                bOk = false;
                break;
            }
            if (fds[1].revents != 0) {
                bOk = false;
                break;
            }
        }
        if (bPaced) {
            std::lock_guard lock(impl.mutex);
            impl.tpTxFree = std::max(impl.tpTxFree, Clock::now()) + WireTime(nWritten);
        }
        nDone += nWritten;
    }
    impl.Release();
    return bOk;
}

bool CVirtualPort::Send(const std::string& strText) {
    return Send(reinterpret_cast<const uint8_t*>(strText.data()), strText.size());
}

void CVirtualPort::Interrupt() {
    const uint64_t qwOne = 1;
    [[maybe_unused]] const ssize_t n = write(m_pImpl->hInterrupt, &qwOne, sizeof(qwOne));
}

bool CVirtualPort::Drain(int nTimeoutMs) {
    Impl& impl = *m_pImpl;
    Impl::Use use;
    if (!impl.Acquire(use)) {
        return false;
    }
    const auto tpDeadline = Clock::now() + std::chrono::milliseconds(std::max(nTimeoutMs, 0));
    Clock::time_point tpWireDone;
    {
        std::lock_guard lock(impl.mutex);
        tpWireDone = impl.tpTxFree;
    }
    bool bDrained = false;
    // The pty moves written bytes to the reading side a moment later, from a
    // kernel worker that a loaded machine runs late: believe an empty queue only
    // once it has stayed empty for a while (two looks 2 ms apart were fooled).
    constexpr auto kEmptyFor = std::chrono::milliseconds(20);
    std::optional<Clock::time_point> optEmptySince;
    for (;;) {
        int nQueued = 0;
        const Clock::time_point tpNow = Clock::now();
        if (ioctl(use.hSlave, FIONREAD, &nQueued) == 0 && nQueued == 0 && tpNow >= tpWireDone) {
            if (!optEmptySince) {
                optEmptySince = tpNow;
            } else if (tpNow - *optEmptySince >= kEmptyFor) {
                bDrained = true;
                break;
            }
        } else {
            optEmptySince.reset();
        }
        if (Clock::now() >= tpDeadline) {
            break;
        }
        if (!Impl::SleepUntil(use.hClose,
                              std::min(tpDeadline, Clock::now() + std::chrono::milliseconds(2)))) {
            break;
        }
    }
    impl.Release();
    return bDrained;
}

std::string CVirtualPort::LastError() const {
    std::lock_guard lock(m_pImpl->mutex);
    return m_pImpl->strError;
}

const VirtualPortConfig& CVirtualPort::Config() const {
    return m_pImpl->config;
}

std::string CVirtualPort::DevicePath() const {
    std::lock_guard lock(m_pImpl->mutex);
    return (std::filesystem::path(m_pImpl->config.strRoot) / "dev" / m_pImpl->config.strTtyName)
        .string();
}

std::string CVirtualPort::SlavePath() const {
    std::lock_guard lock(m_pImpl->mutex);
    return m_pImpl->strSlavePath;
}

int CVirtualPort::MasterFd() const {
    std::lock_guard lock(m_pImpl->mutex);
    return m_pImpl->hMaster;
}

} // namespace fwsim
