// Record files on Windows: FILE_APPEND_DATA makes each write land whole at the
// end, also with other processes appending; FlushFileBuffers makes it durable.
#include "records/RecordPlatform.h"

#include "serial/WideText.h"

#include <winsock2.h>

#include <windows.h>

namespace fwup {

namespace {

std::string Environment(const wchar_t* pszName) {
    wchar_t szValue[1024] = {};
    const DWORD dwLength = ::GetEnvironmentVariableW(pszName, szValue, 1024);
    return dwLength > 0 && dwLength < 1024 ? Utf8FromWide(szValue) : std::string();
}

} // namespace

std::string HostName() {
    wchar_t szName[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD dwSize = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(szName, &dwSize) || dwSize == 0) {
        return "unknown";
    }
    return Utf8FromWide(szName);
}

std::string StateFolder() {
    const std::string strLocal = Environment(L"LOCALAPPDATA");
    return strLocal.empty() ? std::string() : strLocal + "\\fwupgrader";
}

bool MakeFolders(const std::string& strFolder, std::string& strError) {
    for (size_t n = 3; n <= strFolder.size(); ++n) {
        if (n == strFolder.size() || strFolder[n] == '\\' || strFolder[n] == '/') {
            const std::string strPart = strFolder.substr(0, n);
            if (!::CreateDirectoryW(WideFromUtf8(strPart).c_str(), nullptr) &&
                ::GetLastError() != ERROR_ALREADY_EXISTS) {
                strError = "cannot create " + strPart + " (error " +
                           std::to_string(::GetLastError()) + ")";
                return false;
            }
        }
    }
    return true;
}

intptr_t OpenRecordFile(const std::string& strPath, bool bAppend, bool& bOk,
                        std::string& strError) {
    bOk = false;
    const HANDLE hFile = ::CreateFileW(
        WideFromUtf8(strPath).c_str(), bAppend ? GENERIC_READ | FILE_APPEND_DATA : GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        strError = "cannot open the record store " + strPath + " (error " +
                   std::to_string(::GetLastError()) + ")";
        return kNoRecordFile;
    }
    if (::GetFileType(hFile) != FILE_TYPE_DISK) {
        strError = "the record store " + strPath + " is not a regular file";
        ::CloseHandle(hFile);
        return kNoRecordFile;
    }
    bOk = true;
    if (!bAppend) {
        ::CloseHandle(hFile);
        return kNoRecordFile;
    }
    return reinterpret_cast<intptr_t>(hFile);
}

bool CheckDatabasePath(const std::string& strPath, std::string& strError) {
    // Windows locks by byte ranges of a handle: another handle's close keeps them.
    bool bOk = false;
    OpenRecordFile(strPath, false, bOk, strError);
    return bOk;
}

// Byte-range locks on Windows bar other handles' reads and writes of the range:
// the lock covers one byte far past any record file's end instead.
constexpr DWORD kLockOffsetHigh = 0x7fffffff;

bool LockRecordFile(intptr_t nHandle, int64_t nWaitMs, std::string& strError) {
    // Tried without waiting, a few ms apart, so that the wait has its limit.
    const ULONGLONG qwGiveUp = ::GetTickCount64() + static_cast<ULONGLONG>(nWaitMs);
    for (;;) {
        OVERLAPPED where{};
        where.OffsetHigh = kLockOffsetHigh;
        if (::LockFileEx(reinterpret_cast<HANDLE>(nHandle),
                         LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
            return true;
        }
        const DWORD dwError = ::GetLastError();
        if (dwError != ERROR_LOCK_VIOLATION && dwError != ERROR_IO_PENDING) {
            strError = "cannot lock the record file (error " + std::to_string(dwError) + ")";
            return false;
        }
        if (::GetTickCount64() >= qwGiveUp) {
            strError = "another program held the record file's lock for " +
                       std::to_string(nWaitMs / 1000) + " s (the store's deadline)";
            return false;
        }
        ::Sleep(5);
    }
}

void UnlockRecordFile(intptr_t nHandle) {
    OVERLAPPED where{};
    where.OffsetHigh = kLockOffsetHigh;
    ::UnlockFileEx(reinterpret_cast<HANDLE>(nHandle), 0, 1, 0, &where);
}

int64_t ReadRecordFile(intptr_t nHandle, int64_t nOffset, char* pBuffer, int64_t nSize,
                       std::string& strError) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(nOffset);
    where.OffsetHigh = static_cast<DWORD>(nOffset >> 32);
    DWORD dwRead = 0;
    if (!::ReadFile(reinterpret_cast<HANDLE>(nHandle), pBuffer, static_cast<DWORD>(nSize), &dwRead,
                    &where)) {
        if (::GetLastError() == ERROR_HANDLE_EOF) {
            return 0;
        }
        strError = "cannot read the record file (error " + std::to_string(::GetLastError()) + ")";
        return -1;
    }
    return dwRead;
}

bool WriteLineDurably(intptr_t nHandle, const std::string& strLine, std::string& strError) {
    const HANDLE hFile = reinterpret_cast<HANDLE>(nHandle);
    DWORD dwWritten = 0;
    // A short append would leave half a line: count it as a failure.
    if (!::WriteFile(hFile, strLine.data(), static_cast<DWORD>(strLine.size()), &dwWritten,
                     nullptr) ||
        dwWritten != strLine.size() || !::FlushFileBuffers(hFile)) {
        strError = "write failed (error " + std::to_string(::GetLastError()) + ")";
        return false;
    }
    return true;
}

void CloseRecordFile(intptr_t nHandle) {
    ::CloseHandle(reinterpret_cast<HANDLE>(nHandle));
}

int PollSocket(int nSocket, bool bWrite, int nWaitMs) {
    WSAPOLLFD entry{static_cast<SOCKET>(nSocket), static_cast<short>(bWrite ? POLLOUT : POLLIN), 0};
    const int n = ::WSAPoll(&entry, 1, nWaitMs);
    return n > 0 ? 1 : n == 0 ? 0 : 1;
}

} // namespace fwup
