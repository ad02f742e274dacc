// Where the station profile lives on Windows, and who may change it.
#include "station/StationProfile.h"

#include "serial/WideText.h"

#include <windows.h>

namespace fwup {

std::string DefaultProfilePath() {
    wchar_t szData[MAX_PATH] = {};
    const DWORD dwLength = GetEnvironmentVariableW(L"ProgramData", szData, MAX_PATH);
    const std::wstring strData =
        dwLength > 0 && dwLength < MAX_PATH ? std::wstring(szData, dwLength) : L"C:\\ProgramData";
    return Utf8FromWide(strData + L"\\fwupgrader\\station.toml");
}

bool ProfileWritableByUser(const std::string& strPath, std::string& strCause) {
    // Whether this user may write it is what opening it for writing answers;
    // nothing is written.
    const HANDLE hFile = CreateFileW(WideFromUtf8(strPath).c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(hFile);
    strCause = "this user may open it for writing; give Users read access only (for example "
               "icacls \"" +
               strPath +
               "\" /inheritance:r /grant:r Administrators:F "
               "SYSTEM:F Users:R)";
    return true;
}

} // namespace fwup
