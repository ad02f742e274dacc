// Record files on POSIX: O_APPEND makes each write land whole at the end, also
// with other processes appending; fdatasync makes it survive a crash. O_NONBLOCK
// keeps a FIFO given as the record path from hanging the open.
#include "records/RecordPlatform.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fwup {

namespace {

const char* FileKind(mode_t nMode) {
    return S_ISDIR(nMode)    ? "a directory"
           : S_ISFIFO(nMode) ? "a FIFO"
           : S_ISSOCK(nMode) ? "a socket"
           : S_ISCHR(nMode)  ? "a character device"
           : S_ISBLK(nMode)  ? "a block device"
                             : "not a regular file";
}

} // namespace

std::string HostName() {
    char szName[256] = {};
    if (::gethostname(szName, sizeof szName - 1) != 0 || szName[0] == '\0') {
        return "unknown";
    }
    return szName;
}

std::string StateFolder() {
    // A relative XDG_STATE_HOME is invalid (the XDG base directory rules say
    // to ignore it): it would put the spool under whatever folder is current.
    if (const char* pszState = std::getenv("XDG_STATE_HOME");
        pszState != nullptr && *pszState == '/') {
        return std::string(pszState) + "/fwupgrader";
    }
    if (const char* pszHome = std::getenv("HOME"); pszHome != nullptr && *pszHome) {
        return std::string(pszHome) + "/.local/state/fwupgrader";
    }
    return {};
}

bool MakeFolders(const std::string& strFolder, std::string& strError) {
    for (size_t n = 1; n <= strFolder.size(); ++n) {
        if (n == strFolder.size() || strFolder[n] == '/') {
            const std::string strPart = strFolder.substr(0, n);
            if (::mkdir(strPart.c_str(), 0700) != 0 && errno != EEXIST) {
                strError = "cannot create " + strPart + ": " + std::strerror(errno);
                return false;
            }
        }
    }
    struct stat info {};
    if (::stat(strFolder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        strError = strFolder + " is not a directory";
        return false;
    }
    return true;
}

intptr_t OpenRecordFile(const std::string& strPath, bool bAppend, bool& bOk,
                        std::string& strError) {
    bOk = false;
    const int nFlags = O_RDWR | (bAppend ? O_APPEND : 0) | O_CREAT | O_NONBLOCK | O_CLOEXEC;
    const int fd = ::open(strPath.c_str(), nFlags, 0644);
    if (fd < 0) {
        // A FIFO without a reader refuses a non-blocking writer with ENXIO.
        strError = errno == ENXIO || errno == EISDIR
                       ? "the record store " + strPath + " is " +
                             (errno == ENXIO ? "a FIFO" : "a directory") + ", not a regular file"
                       : "cannot open the record store " + strPath + ": " + std::strerror(errno);
        return kNoRecordFile;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        strError = "the record store " + strPath + " is " +
                   (S_ISREG(info.st_mode) ? "unreadable" : FileKind(info.st_mode)) +
                   ", not a regular file";
        ::close(fd);
        return kNoRecordFile;
    }
    bOk = true;
    if (!bAppend) {
        ::close(fd);
        return kNoRecordFile;
    }
    ::fcntl(fd, F_SETFL, O_APPEND); // a regular file: plain blocking writes
    return fd;
}

bool CheckDatabasePath(const std::string& strPath, std::string& strError) {
    struct stat info {};
    if (::stat(strPath.c_str(), &info) != 0) {
        if (errno == ENOENT) {
            return true;
        }
        strError = "cannot open the record store " + strPath + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        strError = "the record store " + strPath + " is " + FileKind(info.st_mode) +
                   ", not a regular file";
        return false;
    }
    return true;
}

bool LockRecordFile(intptr_t nHandle, int64_t nWaitMs, std::string& strError) {
    // flock has no time-out: try, and sleep a few ms between tries.
    const auto tpGiveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(nWaitMs);
    for (;;) {
        if (::flock(static_cast<int>(nHandle), LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            strError = std::string("cannot lock the record file: ") + std::strerror(errno);
            return false;
        }
        if (std::chrono::steady_clock::now() >= tpGiveUp) {
            strError = "another program held the record file's lock for " +
                       std::to_string(nWaitMs / 1000) + " s (the store's deadline)";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void UnlockRecordFile(intptr_t nHandle) {
    ::flock(static_cast<int>(nHandle), LOCK_UN);
}

int64_t ReadRecordFile(intptr_t nHandle, int64_t nOffset, char* pBuffer, int64_t nSize,
                       std::string& strError) {
    ssize_t n = -1;
    do {
        n = ::pread(static_cast<int>(nHandle), pBuffer, static_cast<size_t>(nSize),
                    static_cast<off_t>(nOffset));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        strError = std::string("cannot read the record file: ") + std::strerror(errno);
    }
    return n;
}

bool WriteLineDurably(intptr_t nHandle, const std::string& strLine, std::string& strError) {
    const int fd = static_cast<int>(nHandle);
    ssize_t n = -1;
    do {
        n = ::write(fd, strLine.data(), strLine.size());
    } while (n < 0 && errno == EINTR);
    // A short append would leave half a line: count it as a failure.
    if (n != static_cast<ssize_t>(strLine.size())) {
        strError = n < 0 ? std::strerror(errno) : "the disk took only part of the line";
        return false;
    }
    if (::fdatasync(fd) != 0) {
        strError = std::strerror(errno);
        return false;
    }
    return true;
}

void CloseRecordFile(intptr_t nHandle) {
    ::close(static_cast<int>(nHandle));
}

int PollSocket(int nSocket, bool bWrite, int nWaitMs) {
    pollfd entry{nSocket, static_cast<short>(bWrite ? POLLOUT : POLLIN), 0};
    const int n = ::poll(&entry, 1, nWaitMs);
    return n > 0 ? 1 : n == 0 ? 0 : errno == EINTR ? -1 : 1;
}

} // namespace fwup
