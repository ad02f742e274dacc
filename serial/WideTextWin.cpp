#include "serial/WideText.h"

#include <windows.h>

namespace fwup {

std::wstring WideFromUtf8(const std::string& strText) {
    if (strText.empty()) {
        return {};
    }
    const int nChars = ::MultiByteToWideChar(CP_UTF8, 0, strText.data(),
                                             static_cast<int>(strText.size()), nullptr, 0);
    std::wstring strWide(static_cast<size_t>(nChars > 0 ? nChars : 0), L'\0');
    if (nChars > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()),
                              strWide.data(), nChars);
    }
    return strWide;
}

std::string Utf8FromWide(const std::wstring& strText) {
    if (strText.empty()) {
        return {};
    }
    const int nBytes = ::WideCharToMultiByte(
        CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), nullptr, 0, nullptr, nullptr);
    std::string strUtf8(static_cast<size_t>(nBytes > 0 ? nBytes : 0), '\0');
    if (nBytes > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()),
                              strUtf8.data(), nBytes, nullptr, nullptr);
    }
    return strUtf8;
}

} // namespace fwup
