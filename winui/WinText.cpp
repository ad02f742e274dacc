#include "winui/WinText.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace fwup {

std::wstring NormalizeLineBreaks(const std::wstring& strText) {
    std::wstring strOut;
    strOut.reserve(strText.size() + 16);
    for (size_t i = 0; i < strText.size(); ++i) {
        if (strText[i] == L'\n' && (i == 0 || strText[i - 1] != L'\r')) {
            strOut += L'\r';
        }
        strOut += strText[i];
    }
    return strOut;
}

size_t CharsToDrop(const std::wstring& strBox, size_t nAdd, size_t nCapacity) {
    const size_t nCur = strBox.size();
    if (nCur + nAdd <= nCapacity) {
        return 0;
    }
    // Index of the last character that has to go.
    const size_t k = nCur + nAdd - nCapacity - 1;
    if (k >= nCur) {
        return nCur;
    }
    size_t nFrom = 0;
    for (;;) {
        const size_t p = strBox.find(L"\r\n", nFrom);
        if (p == std::wstring::npos) {
            return nCur; // k lies in the last line, which has no line break yet
        }
        if (p + 1 >= k) {
            return p + 2; // the line [nFrom, p+1] holds k
        }
        nFrom = p + 2;
    }
}

std::wstring KeepNewest(const std::wstring& strText, size_t nCapacity) {
    if (strText.size() <= nCapacity) {
        return strText;
    }
    const size_t nCut = strText.size() - nCapacity;
    std::wstring strTail = strText.substr(nCut);
    if (nCapacity > 0 && strText[nCut - 1] != L'\n') {
        // Cut inside a line: start at the next whole line when one is left.
        const size_t p = strTail.find(L"\r\n");
        if (p != std::wstring::npos && p + 2 < strTail.size()) {
            strTail.erase(0, p + 2);
        }
    }
    return strTail;
}

size_t CaretAfterAppend(const std::wstring& strBox) {
    const size_t n = strBox.size();
    if (n >= 2 && strBox.compare(n - 2, 2, L"\r\n") == 0) {
        return n - 2;
    }
    return n;
}

std::string FormatUtf8V(const char* pszFormat, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int nLength = std::vsnprintf(nullptr, 0, pszFormat, copy);
    va_end(copy);
    if (nLength <= 0) {
        return std::string();
    }
    std::vector<char> buffer(static_cast<size_t>(nLength) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), pszFormat, args);
    return std::string(buffer.data(), static_cast<size_t>(nLength));
}

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
