#include "HostLink.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace fwsim::test {

namespace {
using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point tpDeadline) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(tpDeadline - Clock::now()).count();
    return ms < 0 ? 0 : static_cast<int>(ms);
}
} // namespace

HostLink::~HostLink() {
    Close();
}

bool HostLink::Open(const std::string& strPath) {
    Close();
    m_hFd = open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_hFd < 0) {
        return false;
    }
    termios tio{};
    if (tcgetattr(m_hFd, &tio) != 0) {
        Close();
        return false;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(m_hFd, TCSANOW, &tio) != 0) {
        Close();
        return false;
    }
    return true;
}

void HostLink::Close() {
    if (m_hFd >= 0) {
        close(m_hFd);
        m_hFd = -1;
    }
}

bool HostLink::Write(const std::vector<uint8_t>& bytes) {
    size_t nDone = 0;
    while (nDone < bytes.size()) {
        const ssize_t n = write(m_hFd, bytes.data() + nDone, bytes.size() - nDone);
        if (n > 0) {
            nDone += static_cast<size_t>(n);
        } else {
            pollfd fd{m_hFd, POLLOUT, 0};
            if (poll(&fd, 1, 1000) <= 0 || (fd.revents & (POLLHUP | POLLERR))) {
                return false;
            }
        }
    }
    return true;
}

bool HostLink::Write(const std::string& strText) {
    return Write(std::vector<uint8_t>(strText.begin(), strText.end()));
}

std::vector<uint8_t> HostLink::Read(size_t nCount, int nTimeoutMs) {
    std::vector<uint8_t> bytes;
    const auto tpDeadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (bytes.size() < nCount) {
        pollfd fd{m_hFd, POLLIN, 0};
        if (poll(&fd, 1, MsLeft(tpDeadline)) <= 0) {
            break;
        }
        uint8_t buffer[512];
        const ssize_t n = read(m_hFd, buffer, std::min(sizeof(buffer), nCount - bytes.size()));
        if (n > 0) {
            bytes.insert(bytes.end(), buffer, buffer + n);
        } else if (fd.revents & (POLLHUP | POLLERR)) {
            break;
        }
    }
    return bytes;
}

std::string HostLink::ReadLine(int nTimeoutMs) {
    std::string strLine;
    const auto tpDeadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (strLine.size() < 2 || strLine.compare(strLine.size() - 2, 2, "\r\n") != 0) {
        const std::vector<uint8_t> byte = Read(1, MsLeft(tpDeadline));
        if (byte.empty()) {
            return "";
        }
        strLine.push_back(static_cast<char>(byte[0]));
    }
    return strLine;
}

std::vector<uint8_t> HostLink::ReadPacket(int nTimeoutMs) {
    const auto tpDeadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    std::vector<uint8_t> packet = Read(8, nTimeoutMs);
    if (packet.size() < 8) {
        return {};
    }
    const size_t nPayload = packet[0] == 0x40 ? 0 : 4u * (packet[4] | (packet[5] << 8));
    const std::vector<uint8_t> payload = Read(nPayload, MsLeft(tpDeadline));
    if (payload.size() < nPayload) {
        return {};
    }
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}

bool HostLink::Silent(int nMs) {
    return Read(1, nMs).empty();
}

bool WaitForPath(const std::string& strPath, bool bPresent, int nTimeoutMs) {
    const auto tpDeadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        std::error_code ec;
        const bool bExists = std::filesystem::exists(std::filesystem::symlink_status(strPath, ec));
        if (bExists == bPresent) {
            return true;
        }
        if (Clock::now() >= tpDeadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace fwsim::test
