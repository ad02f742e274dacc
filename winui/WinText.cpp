#include "winui/WinText.h"

#include <windows.h>

#include <cstdio>
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

} // namespace fwup
