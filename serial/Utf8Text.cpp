#include "serial/Utf8Text.h"

#include <cstdio>

namespace fwup {

namespace {

void AppendFormatted(std::string& strOut, const char* pszFormat, unsigned nValue) {
    char szEscape[8];
    std::snprintf(szEscape, sizeof szEscape, pszFormat, nValue);
    strOut += szEscape;
}

// The code point of a 2-byte sequence (C1 controls are U+0080..U+009F).
unsigned TwoByteCodePoint(unsigned char c0, unsigned char c1) {
    return (static_cast<unsigned>(c0 & 0x1F) << 6) | (c1 & 0x3F);
}

} // namespace

size_t Utf8SequenceLength(const std::string& strText, size_t nAt) {
    const auto at = [&](size_t i) { return static_cast<unsigned char>(strText[nAt + i]); };
    const unsigned char c = at(0);
    if (c < 0x80) {
        return 1;
    }
    size_t nLength = 0;
    unsigned char byMin = 0x80; // bounds of the second byte (overlongs, surrogates, > U+10FFFF)
    unsigned char byMax = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        nLength = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        nLength = 3;
        byMin = c == 0xE0 ? 0xA0 : 0x80;
        byMax = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        nLength = 4;
        byMin = c == 0xF0 ? 0x90 : 0x80;
        byMax = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (nAt + nLength > strText.size() || at(1) < byMin || at(1) > byMax) {
        return 0;
    }
    for (size_t i = 2; i < nLength; ++i) {
        if ((at(i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return nLength;
}

void AppendUtf8(std::string& strOut, uint32_t dwCode) {
    if (dwCode < 0x80) {
        strOut += static_cast<char>(dwCode);
    } else if (dwCode < 0x800) {
        strOut += static_cast<char>(0xC0 | (dwCode >> 6));
        strOut += static_cast<char>(0x80 | (dwCode & 0x3F));
    } else if (dwCode < 0x10000) {
        strOut += static_cast<char>(0xE0 | (dwCode >> 12));
        strOut += static_cast<char>(0x80 | ((dwCode >> 6) & 0x3F));
        strOut += static_cast<char>(0x80 | (dwCode & 0x3F));
    } else {
        strOut += static_cast<char>(0xF0 | (dwCode >> 18));
        strOut += static_cast<char>(0x80 | ((dwCode >> 12) & 0x3F));
        strOut += static_cast<char>(0x80 | ((dwCode >> 6) & 0x3F));
        strOut += static_cast<char>(0x80 | (dwCode & 0x3F));
    }
}

std::u16string Utf16FromUtf8(const std::string& strText) {
    std::u16string strOut;
    strOut.reserve(strText.size());
    for (size_t i = 0; i < strText.size();) {
        const size_t nLength = Utf8SequenceLength(strText, i);
        if (nLength == 0) {
            strOut += u'\uFFFD';
            ++i;
            continue;
        }
        // The lead byte's payload bits, then six from each continuation byte.
        static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
        char32_t cp = static_cast<unsigned char>(strText[i]) & kLeadBits[nLength];
        for (size_t k = 1; k < nLength; ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(strText[i + k]) & 0x3Fu);
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            strOut += static_cast<char16_t>(0xD800 + (cp >> 10));
            strOut += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            strOut += static_cast<char16_t>(cp);
        }
        i += nLength;
    }
    return strOut;
}

std::string Utf8FromUtf16(const std::u16string& strText) {
    std::string strOut;
    strOut.reserve(strText.size());
    for (size_t i = 0; i < strText.size(); ++i) {
        uint32_t dwCode = strText[i];
        if (dwCode >= 0xD800 && dwCode <= 0xDBFF && i + 1 < strText.size() &&
            strText[i + 1] >= 0xDC00 && strText[i + 1] <= 0xDFFF) {
            dwCode = 0x10000 + ((dwCode - 0xD800) << 10) + (strText[i + 1] - 0xDC00);
            ++i;
        } else if (dwCode >= 0xD800 && dwCode <= 0xDFFF) {
            dwCode = 0xFFFD;
        }
        AppendUtf8(strOut, dwCode);
    }
    return strOut;
}

std::string JsonEscape(const std::string& strText) {
    std::string strOut;
    for (size_t i = 0; i < strText.size();) {
        const unsigned char c = static_cast<unsigned char>(strText[i]);
        const size_t nLength = Utf8SequenceLength(strText, i);
        if (nLength == 0) {
            AppendFormatted(strOut, "\\udc%02x", c); // recoverable: see the header
            ++i;
            continue;
        }
        if (nLength == 2 && c == 0xC2 &&
            TwoByteCodePoint(c, static_cast<unsigned char>(strText[i + 1])) < 0xA0) {
            AppendFormatted(strOut, "\\u%04x",
                            TwoByteCodePoint(c, static_cast<unsigned char>(strText[i + 1])));
            i += 2;
            continue;
        }
        if (nLength > 1) {
            strOut.append(strText, i, nLength);
            i += nLength;
            continue;
        }
        switch (c) {
        case '"':
            strOut += "\\\"";
            break;
        case '\\':
            strOut += "\\\\";
            break;
        case '\n':
            strOut += "\\n";
            break;
        case '\r':
            strOut += "\\r";
            break;
        case '\t':
            strOut += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                AppendFormatted(strOut, "\\u%04x", c);
            } else {
                strOut += static_cast<char>(c);
            }
        }
        ++i;
    }
    return strOut;
}

namespace {

constexpr uint32_t kByteEscapeBase = 0xEF00; // U+EF00 + byte

// The code point of the valid sequence of nLength bytes at nAt.
uint32_t CodePointAt(const std::string& strText, size_t nAt, size_t nLength) {
    static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t dwCode = static_cast<unsigned char>(strText[nAt]) & kLeadBits[nLength];
    for (size_t k = 1; k < nLength; ++k) {
        dwCode = (dwCode << 6) | (static_cast<unsigned char>(strText[nAt + k]) & 0x3Fu);
    }
    return dwCode;
}

// Whether U+EF00 + c stands for byte c in SQL text.
bool IsByteEscape(uint32_t dwCode) {
    return dwCode == kByteEscapeBase || (dwCode >= kByteEscapeBase + 0x80 && dwCode <= 0xEFFF);
}

} // namespace

std::string SqlText(const std::string& strBytes) {
    std::string strOut;
    strOut.reserve(strBytes.size());
    for (size_t i = 0; i < strBytes.size();) {
        const size_t nLength = Utf8SequenceLength(strBytes, i);
        const bool bEscaped = nLength == 0 || strBytes[i] == '\0' ||
                              (nLength == 3 && IsByteEscape(CodePointAt(strBytes, i, 3)));
        const size_t nBytes = nLength == 0 ? 1 : nLength;
        if (bEscaped) {
            for (size_t k = 0; k < nBytes; ++k) {
                AppendUtf8(strOut, kByteEscapeBase + static_cast<unsigned char>(strBytes[i + k]));
            }
        } else {
            strOut.append(strBytes, i, nBytes);
        }
        i += nBytes;
    }
    return strOut;
}

std::string BytesFromSqlText(const std::string& strText) {
    std::string strOut;
    strOut.reserve(strText.size());
    for (size_t i = 0; i < strText.size();) {
        const size_t nLength = Utf8SequenceLength(strText, i);
        if (nLength == 3 && IsByteEscape(CodePointAt(strText, i, 3))) {
            strOut += static_cast<char>(CodePointAt(strText, i, 3) - kByteEscapeBase);
        } else {
            strOut.append(strText, i, nLength == 0 ? 1 : nLength); // an older row's raw bytes
        }
        i += nLength == 0 ? 1 : nLength;
    }
    return strOut;
}

std::string JsonStringOrNull(const std::optional<std::string>& optText) {
    if (!optText) {
        return "null";
    }
    // Appended piece by piece: gcc 12 at -O3 misreads a chain starting with a
    // literal as an overlapping copy (-Wrestrict).
    std::string strJson = "\"";
    strJson += JsonEscape(*optText);
    strJson += '"';
    return strJson;
}

std::string DisplayText(const std::string& strText) {
    std::string strOut;
    strOut.reserve(strText.size());
    for (size_t i = 0; i < strText.size();) {
        const unsigned char c = static_cast<unsigned char>(strText[i]);
        size_t nLength = Utf8SequenceLength(strText, i);
        const bool bControl =
            (nLength == 1 && (c < 0x20 || c == 0x7F)) ||
            (nLength == 2 && c == 0xC2 && static_cast<unsigned char>(strText[i + 1]) < 0xA0);
        if (nLength == 0 || bControl) {
            nLength = nLength == 0 ? 1 : nLength;
            for (size_t k = 0; k < nLength; ++k) {
                AppendFormatted(strOut, "\\x%02x", static_cast<unsigned char>(strText[i + k]));
            }
        } else {
            strOut.append(strText, i, nLength);
        }
        i += nLength;
    }
    return strOut;
}

} // namespace fwup
