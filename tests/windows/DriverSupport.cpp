#include "tests/windows/DriverSupport.h"

#include "serial/WideText.h"

#include <cstdio>
#include <cwchar>

namespace fwup {

std::wstring TextOf(HWND hWnd) {
    const int nLength = ::GetWindowTextLengthW(hWnd);
    std::wstring strText(static_cast<size_t>(nLength) + 1, L'\0');
    const int nRead = ::GetWindowTextW(hWnd, strText.data(), nLength + 1);
    strText.resize(static_cast<size_t>(nRead > 0 ? nRead : 0));
    return strText;
}

std::string Utf8TextOf(HWND hWnd) {
    return Utf8FromWide(TextOf(hWnd));
}

HWND FindOwnedDialog(HWND hOwner) {
    struct Search {
        HWND hOwner;
        HWND hFound;
    } search{hOwner, nullptr};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            auto* pSearch = reinterpret_cast<Search*>(lParam);
            wchar_t szClass[16] = {};
            ::GetClassNameW(hWnd, szClass, 16);
            if (::IsWindowVisible(hWnd) && ::GetWindow(hWnd, GW_OWNER) == pSearch->hOwner &&
                std::wcscmp(szClass, L"#32770") == 0) {
                pSearch->hFound = hWnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.hFound;
}

bool WriteReportFile(const std::string& strPath, const std::vector<std::string>& lines) {
    const std::wstring strFinal = WideFromUtf8(strPath);
    const std::wstring strTemp = strFinal + L".tmp";
    FILE* pFile = ::_wfopen(strTemp.c_str(), L"wb");
    if (pFile == nullptr) {
        return false;
    }
    bool bWritten = true;
    for (const std::string& strLine : lines) {
        bWritten =
            bWritten && std::fputs(strLine.c_str(), pFile) >= 0 && std::fputc('\n', pFile) != EOF;
    }
    bWritten = std::fclose(pFile) == 0 && bWritten;
    return bWritten &&
           ::MoveFileExW(strTemp.c_str(), strFinal.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

} // namespace fwup
