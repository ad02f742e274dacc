#include "windowmodel/BoxText.h"

namespace fwup {

std::u16string Utf16FromUtf8(const std::string& strText) {
    std::u16string strOut;
    strOut.reserve(strText.size());
    const size_t n = strText.size();
    size_t i = 0;
    while (i < n) {
        const auto c = static_cast<unsigned char>(strText[i]);
        char32_t cp = 0;
        size_t nMore = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1Fu;
            nMore = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0Fu;
            nMore = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07u;
            nMore = 3;
        } else {
            strOut += u'\uFFFD';
            ++i;
            continue;
        }
        bool bGood = i + nMore < n || nMore == 0;
        for (size_t k = 1; bGood && k <= nMore; ++k) {
            const auto cc = static_cast<unsigned char>(strText[i + k]);
            bGood = (cc & 0xC0) == 0x80;
            cp = (cp << 6) | (cc & 0x3Fu);
        }
        // Overlong forms, surrogates and values past U+10FFFF are malformed too.
        static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (!bGood || cp < kLeast[nMore] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            strOut += u'\uFFFD';
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            strOut += static_cast<char16_t>(0xD800 + (cp >> 10));
            strOut += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            strOut += static_cast<char16_t>(cp);
        }
        i += nMore + 1;
    }
    return strOut;
}

std::string Utf8FromUtf16(const std::u16string& strText) {
    std::string strOut;
    strOut.reserve(strText.size());
    for (size_t i = 0; i < strText.size(); ++i) {
        char32_t cp = strText[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < strText.size() && strText[i + 1] >= 0xDC00 &&
            strText[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (strText[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            strOut += static_cast<char>(cp);
        } else if (cp < 0x800) {
            strOut += static_cast<char>(0xC0 | (cp >> 6));
            strOut += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            strOut += static_cast<char>(0xE0 | (cp >> 12));
            strOut += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            strOut += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            strOut += static_cast<char>(0xF0 | (cp >> 18));
            strOut += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            strOut += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            strOut += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return strOut;
}

std::u16string NormalizeLineBreaks(const std::u16string& strText) {
    std::u16string strOut;
    strOut.reserve(strText.size() + 16);
    for (size_t i = 0; i < strText.size(); ++i) {
        const char16_t ch = strText[i];
        if (ch == u'\n' && (i == 0 || strText[i - 1] != u'\r')) {
            strOut += u'\r';
        }
        strOut += ch;
    }
    return strOut;
}

size_t CharsToDrop(const std::u16string& strBox, size_t nAdd, size_t nCapacity) {
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
        const size_t p = strBox.find(u"\r\n", nFrom);
        if (p == std::u16string::npos) {
            return nCur; // k lies in the last line, which has no line break yet
        }
        if (p + 1 >= k) {
            return p + 2; // the line [nFrom, p+1] holds k
        }
        nFrom = p + 2;
    }
}

std::u16string KeepNewest(const std::u16string& strText, size_t nCapacity) {
    if (strText.size() <= nCapacity) {
        return strText;
    }
    const size_t nCut = strText.size() - nCapacity;
    std::u16string strTail = strText.substr(nCut);
    if (nCapacity > 0 && strText[nCut - 1] != u'\n') {
        // Cut inside a line: start at the next whole line when one is left.
        const size_t p = strTail.find(u"\r\n");
        if (p != std::u16string::npos && p + 2 < strTail.size()) {
            strTail.erase(0, p + 2);
        }
    }
    return strTail;
}

size_t CaretAfterAppend(const std::u16string& strBox) {
    const size_t n = strBox.size();
    if (n >= 2 && strBox.compare(n - 2, 2, u"\r\n") == 0) {
        return n - 2;
    }
    return n;
}

} // namespace fwup
