// Windows: files through kernel32 with UTF-16 paths (the core passes UTF-8).
#include "device/FilePlatform.h"

#include "serial/WideText.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

namespace fwup {

namespace {

// 100 ns ticks from 1601 to 1970.
constexpr int64_t kUnixEpochTicks = 116444736000000000LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

// Closes the handle on every way out.
class CFileHandle {
public:
    explicit CFileHandle(HANDLE hFile) : m_hFile(hFile) {}
    ~CFileHandle() {
        if (m_hFile != INVALID_HANDLE_VALUE) {
            ::CloseHandle(m_hFile);
        }
    }
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    HANDLE Get() const { return m_hFile; }

private:
    HANDLE m_hFile;
};

// A disk file that is no directory.
bool IsRegularHandle(HANDLE hFile) {
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileType(hFile) == FILE_TYPE_DISK && ::GetFileInformationByHandle(hFile, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

bool StatFileExclusive(const std::string& strPath, int64_t& nSize, int64_t& nWriteTime) {
    // Share mode 0: a file that another program has open cannot be opened here.
    CFileHandle file(::CreateFileW(WideFromUtf8(strPath).c_str(), GENERIC_READ, 0, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE || !IsRegularHandle(file.Get())) {
        return false;
    }
    LARGE_INTEGER size{};
    FILETIME written{};
    if (!::GetFileSizeEx(file.Get(), &size) ||
        !::GetFileTime(file.Get(), nullptr, nullptr, &written)) {
        return false;
    }
    const int64_t nTicks = static_cast<int64_t>(
        (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime);
    nSize = size.QuadPart;
    // Floor division, so a time before 1970 still names the second it lies in.
    const int64_t nSince1970 = nTicks - kUnixEpochTicks;
    nWriteTime = nSince1970 / kTicksPerSecond - (nSince1970 % kTicksPerSecond < 0 ? 1 : 0);
    return true;
}

bool UtcCalendar(int64_t nSeconds, int& nYear, int& nMonth, int& nDay, int& nHour, int& nMinute,
                 int& nSecond) {
    // FILETIME counts from 1601 and must stay below 2^63 ticks.
    constexpr int64_t kMaxSeconds = (INT64_MAX - kUnixEpochTicks) / kTicksPerSecond;
    if (nSeconds < -kUnixEpochTicks / kTicksPerSecond || nSeconds > kMaxSeconds) {
        return false;
    }
    const uint64_t nTicks = static_cast<uint64_t>(nSeconds * kTicksPerSecond + kUnixEpochTicks);
    FILETIME fileTime{};
    fileTime.dwLowDateTime = static_cast<DWORD>(nTicks & 0xFFFFFFFFu);
    fileTime.dwHighDateTime = static_cast<DWORD>(nTicks >> 32);
    SYSTEMTIME utc{};
    if (!::FileTimeToSystemTime(&fileTime, &utc)) {
        return false;
    }
    nYear = utc.wYear;
    nMonth = utc.wMonth;
    nDay = utc.wDay;
    nHour = utc.wHour;
    nMinute = utc.wMinute;
    nSecond = utc.wSecond;
    return true;
}

bool IsRegularPath(const std::string& strPath) {
    const DWORD dwAttributes = ::GetFileAttributesW(WideFromUtf8(strPath).c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES &&
           (dwAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool IsRegularFile(std::FILE* pFile) {
    const intptr_t hFile = ::_get_osfhandle(::_fileno(pFile));
    return hFile != -1 && IsRegularHandle(reinterpret_cast<HANDLE>(hFile));
}

std::FILE* OpenForReading(const std::string& strPath) {
    // The wide call (fopen would go through the ANSI code page), and the kind of
    // file checked on the handle itself: a path swapped for a pipe or a device
    // after an earlier check is refused, never read.
    HANDLE hFile = ::CreateFileW(WideFromUtf8(strPath).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    if (!IsRegularHandle(hFile)) {
        ::CloseHandle(hFile);
        return nullptr;
    }
    const int nFd = ::_open_osfhandle(reinterpret_cast<intptr_t>(hFile), _O_RDONLY | _O_BINARY);
    if (nFd < 0) {
        ::CloseHandle(hFile);
        return nullptr;
    }
    std::FILE* pFile = ::_fdopen(nFd, "rb");
    if (pFile == nullptr) {
        ::_close(nFd); // closes the handle too
    }
    return pFile;
}

const char* PathSeparators() {
    return "/\\:";
}

} // namespace fwup
