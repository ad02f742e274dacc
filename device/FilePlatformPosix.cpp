#include "device/FilePlatform.h"

#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fwup {

namespace {

// Closes the descriptor (and with it the lock) on every way out.
class CFileDescriptor {
public:
    explicit CFileDescriptor(int fd) : m_hFile(fd) {}
    ~CFileDescriptor() {
        if (m_hFile >= 0) {
            ::close(m_hFile);
        }
    }
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;
    int Get() const { return m_hFile; }

private:
    int m_hFile;
};

} // namespace

bool StatFileExclusive(const std::string& strPath, int64_t& nSize, int64_t& nWriteTime) {
    CFileDescriptor file(::open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.Get() < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    nSize = static_cast<int64_t>(info.st_size);
    nWriteTime = static_cast<int64_t>(info.st_mtim.tv_sec);
    return true;
}

bool UtcCalendar(int64_t nSeconds, int& nYear, int& nMonth, int& nDay, int& nHour, int& nMinute,
                 int& nSecond) {
    const time_t tValue = static_cast<time_t>(nSeconds);
    struct tm fields {};
    if (::gmtime_r(&tValue, &fields) == nullptr) {
        return false;
    }
    nYear = fields.tm_year + 1900;
    nMonth = fields.tm_mon + 1;
    nDay = fields.tm_mday;
    nHour = fields.tm_hour;
    nMinute = fields.tm_min;
    nSecond = fields.tm_sec;
    return true;
}

bool IsRegularPath(const std::string& strPath) {
    struct stat info {};
    return ::stat(strPath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::FILE* OpenForReading(const std::string& strPath) {
    // O_NONBLOCK: opening a FIFO for reading would wait for a writer.
    const int fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info {};
    std::FILE* pFile = nullptr;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        pFile = ::fdopen(fd, "rb");
    }
    if (pFile == nullptr) {
        ::close(fd);
    }
    return pFile;
}

const char* PathSeparators() {
    return "/";
}

bool IsRegularFile(std::FILE* pFile) {
    struct stat info {};
    return ::fstat(::fileno(pFile), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace fwup
