// Unit records on Windows: FILE_APPEND_DATA makes each write land whole at the
// end, also with other processes appending; FlushFileBuffers makes it durable.
#include "workflows/CUnitRecordLog.h"

#include "serial/WideText.h"

#include <windows.h>

namespace fwup {

intptr_t CUnitRecordLog::OpenAppend(const std::string& strPath, std::string& strError) {
    const HANDLE hFile = ::CreateFileW(WideFromUtf8(strPath).c_str(), FILE_APPEND_DATA,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        strError = "cannot open the record file " + strPath + " (error " +
                   std::to_string(::GetLastError()) + ")";
        return kNoFile;
    }
    return reinterpret_cast<intptr_t>(hFile);
}

bool CUnitRecordLog::WriteLineDurably(intptr_t nHandle, const std::string& strLine) {
    const HANDLE hFile = reinterpret_cast<HANDLE>(nHandle);
    DWORD dwWritten = 0;
    // A short append would leave half a line: count it as a failure.
    return ::WriteFile(hFile, strLine.data(), static_cast<DWORD>(strLine.size()), &dwWritten,
                       nullptr) &&
           dwWritten == strLine.size() && ::FlushFileBuffers(hFile);
}

void CUnitRecordLog::CloseFile(intptr_t nHandle) {
    ::CloseHandle(reinterpret_cast<HANDLE>(nHandle));
}

} // namespace fwup
