#include "winui/WinText.h"

#include "serial/WideText.h"
#include "windowmodel/WindowTexts.h"

#include <commdlg.h>

#include <iterator>
#include <vector>

namespace fwup {

std::wstring WideFromDevice(const std::string& strText) {
    if (strText.empty()) {
        return std::wstring();
    }
    const int nBytes = static_cast<int>(strText.size());
    const int nChars = ::MultiByteToWideChar(CP_THREAD_ACP, 0, strText.data(), nBytes, nullptr, 0);
    if (nChars <= 0) {
        return std::wstring();
    }
    std::wstring strWide(static_cast<size_t>(nChars), L'\0');
    ::MultiByteToWideChar(CP_THREAD_ACP, 0, strText.data(), nBytes, strWide.data(), nChars);
    return strWide;
}

// As the platform names an application that gives no name of its own.
const std::wstring& ProgramName() {
    static const std::wstring strName = [] {
        std::vector<wchar_t> path(MAX_PATH);
        DWORD nLength = 0;
        while ((nLength = ::GetModuleFileNameW(nullptr, path.data(),
                                               static_cast<DWORD>(path.size()))) == path.size() &&
               path.size() < 32768) {
            path.resize(path.size() * 2);
        }
        std::wstring strPath(path.data(), nLength);
        const size_t nSlash = strPath.find_last_of(L"\\/");
        std::wstring strFile = nSlash == std::wstring::npos ? strPath : strPath.substr(nSlash + 1);
        const size_t nDot = strFile.rfind(L'.');
        if (nDot != std::wstring::npos && nDot > 0) {
            strFile.erase(nDot);
        }
        return strFile.empty() ? WideFromUtf8(kTextProgramName) : strFile;
    }();
    return strName;
}

std::optional<std::string> AskFirmwareFileDialog(HWND hOwner) {
    wchar_t szFileName[2000] = {};
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hOwner;
    // Label and pattern pairs, each ended by a null, the list by a second one.
    std::wstring strFilter;
    for (const FileFilter& filter : kFirmwareFilters) {
        strFilter +=
            WideFromUtf8(filter.pszLabel) + L'\0' + WideFromUtf8(filter.pszPattern) + L'\0';
    }
    ofn.lpstrFilter = strFilter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = szFileName;
    ofn.nMaxFile = static_cast<DWORD>(std::size(szFileName));
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_EXPLORER;
    if (::GetOpenFileNameW(&ofn) == FALSE || szFileName[0] == L'\0') {
        return std::nullopt;
    }
    return Utf8FromWide(szFileName);
}

} // namespace fwup
