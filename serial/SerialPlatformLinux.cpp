// Linux serial ports through termios.
#include "serial/SerialPlatform.h"

#include "serial/Clock.h"
#include "serial/TermiosLineSettings.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace fwup {

namespace {

// Ports open in this process. flock() already refuses a second open description,
// but the registry also covers nodes that do not support locks.
std::mutex g_openMutex;
std::set<unsigned long long> g_openDevices;

uint32_t FailOpen(int fd, uint32_t dwError) {
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return dwError;
}

} // namespace

void ApplyLineSettings(termios& tio) {
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF | IXANY | INPCK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
}

bool LineSettingsHold(const termios& actual) {
    const tcflag_t iOff = IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP;
    const tcflag_t lOff = ICANON | ECHO | ISIG | IEXTEN;
    return cfgetispeed(&actual) == B115200 && cfgetospeed(&actual) == B115200 &&
           (actual.c_cflag & CSIZE) == CS8 && (actual.c_cflag & (PARENB | CSTOPB | CRTSCTS)) == 0 &&
           (actual.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD) &&
           (actual.c_iflag & iOff) == 0 && (actual.c_oflag & OPOST) == 0 &&
           (actual.c_lflag & lOff) == 0 && actual.c_cc[VMIN] == 0 && actual.c_cc[VTIME] == 0;
}

uint32_t SerialOpen(const std::string& strNode, uint32_t /*dwInQueue*/, uint32_t /*dwOutQueue*/,
                    SerialHandle& handle) {
    // Queue sizes have no termios counterpart; the driver's own buffers serve.
    handle = SerialHandle{};
    const int fd = ::open(strNode.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return static_cast<uint32_t>(errno);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        return FailOpen(fd, S_ISCHR(st.st_mode) ? static_cast<uint32_t>(errno) : ENOTTY);
    }
    const unsigned long long nId = static_cast<unsigned long long>(st.st_rdev);
    {
        std::lock_guard<std::mutex> lock(g_openMutex);
        if (g_openDevices.count(nId) != 0) {
            ::close(fd); // another object of ours holds it: leave its TIOCEXCL alone
            return EBUSY;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd); // held by another process
            return EBUSY;
        }
        g_openDevices.insert(nId);
    }
    auto unregister = [nId] {
        std::lock_guard<std::mutex> lock(g_openMutex);
        g_openDevices.erase(nId);
    };
    // TIOCEXCL keeps out openers that do not take the lock (root is not stopped by it).
    ::ioctl(fd, TIOCEXCL);
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        unregister();
        return FailOpen(fd, static_cast<uint32_t>(errno));
    }
    ApplyLineSettings(tio);
    termios readBack{};
    if (::tcsetattr(fd, TCSANOW, &tio) != 0 || ::tcgetattr(fd, &readBack) != 0) {
        unregister();
        return FailOpen(fd, static_cast<uint32_t>(errno));
    }
    if (!LineSettingsHold(readBack)) {
        unregister();
        return FailOpen(fd, EINVAL);
    }
    // Pseudo-terminals have no modem lines: ENOTTY/EINVAL there is expected.
    int nLines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd, TIOCMBIS, &nLines) != 0 && errno != ENOTTY && errno != EINVAL) {
        const uint32_t dwError = static_cast<uint32_t>(errno);
        unregister();
        return FailOpen(fd, dwError);
    }
    // What the device sent before anyone listened (a banner, line noise) is no
    // reply to anything this program will ask.
    ::tcflush(fd, TCIFLUSH);
    // The descriptor stays non-blocking: reads return at once, and writes wait in
    // poll() with their time-out instead of inside write().
    handle.hNative = fd;
    handle.nDeviceId = nId;
    return 0;
}

void SerialClose(SerialHandle& handle) {
    if (handle.hNative < 0) {
        return;
    }
    const int fd = static_cast<int>(handle.hNative);
    ::ioctl(fd, TIOCNXCL);
    ::close(fd); // releases the flock too
    {
        std::lock_guard<std::mutex> lock(g_openMutex);
        g_openDevices.erase(handle.nDeviceId);
    }
    handle = SerialHandle{};
}

namespace {

// Milliseconds until dwDeadline on the core's clock, negative once it has
// passed. Waits read that clock only, so a program that counts time instead of
// measuring it (the fuzz targets) sees every deadline pass the same way.
int32_t MsLeft(uint32_t dwDeadline) {
    return static_cast<int32_t>(dwDeadline - GetTickCount());
}

bool HungUp(int fd) {
    pollfd pfd{fd, POLLIN, 0};
    return ::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

} // namespace

uint32_t SerialRead(const SerialHandle& handle, void* pBuffer, uint32_t& nBytes) {
    const int fd = static_cast<int>(handle.hNative);
    if (nBytes == 0) {
        return 0;
    }
    for (;;) {
        const ssize_t n = ::read(fd, pBuffer, nBytes);
        if (n > 0) {
            nBytes = static_cast<uint32_t>(n);
            return 0;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        nBytes = 0;
        if (n == 0 || errno == EAGAIN) {
            // A hang-up also reads as 0 bytes; tell it apart from "nothing yet".
            return HungUp(fd) ? EIO : 0;
        }
        return static_cast<uint32_t>(errno);
    }
}

uint32_t SerialWrite(const SerialHandle& handle, const void* pBuffer, uint32_t& nBytes,
                     uint32_t dwTimeoutMs) {
    const int fd = static_cast<int>(handle.hNative);
    const uint32_t dwDeadline = GetTickCount() + dwTimeoutMs;
    const uint32_t nWanted = nBytes;
    nBytes = 0;
    if (nWanted == 0) {
        return 0;
    }
    for (;;) {
        const ssize_t n = ::write(fd, pBuffer, nWanted);
        if (n >= 0) {
            nBytes = static_cast<uint32_t>(n);
            return 0;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            return static_cast<uint32_t>(errno);
        }
        // The driver's buffer is full: the other end does not read. Wait for room.
        const int32_t nLeft = MsLeft(dwDeadline);
        if (nLeft <= 0) {
            return 0;
        }
        pollfd pfd{fd, POLLOUT, 0};
        const int nReady = ::poll(&pfd, 1, nLeft);
        if (nReady < 0 && errno != EINTR) {
            return static_cast<uint32_t>(errno);
        }
        if (nReady > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            return EIO;
        }
    }
}

bool SerialWaitReadable(const SerialHandle& handle, uint32_t dwTimeoutMs) {
    const int fd = static_cast<int>(handle.hNative);
    const uint32_t dwDeadline = GetTickCount() + dwTimeoutMs;
    for (;;) {
        const int32_t nLeft = MsLeft(dwDeadline);
        if (nLeft < 0) {
            return false;
        }
        pollfd pfd{fd, POLLIN, 0};
        const int n = ::poll(&pfd, 1, nLeft);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        if ((pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            // Nothing will ever arrive on a hung-up port; sleep instead of spinning.
            SleepMs(TicksUntil(dwDeadline));
            return false;
        }
        return (pfd.revents & POLLIN) != 0;
    }
}

SerialOpenFault ClassifyOpenError(uint32_t dwError) {
    switch (dwError) {
    case 0:
        return SerialOpenFault::kNone;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return SerialOpenFault::kNoSuchPort;
    case EBUSY:
        return SerialOpenFault::kHeldElsewhere;
    case EACCES:
    case EPERM:
        return SerialOpenFault::kPermissionDenied;
    default:
        return SerialOpenFault::kOther;
    }
}

std::string SerialErrorText(uint32_t dwError) {
    char szText[128];
    return ::strerror_r(static_cast<int>(dwError), szText, sizeof szText); // GNU: returns the text
}

} // namespace fwup
