#include "workflows/JsonText.h"

#include <cstdio>

namespace fwup {

std::string JsonEscape(const std::string& strText) {
    std::string strOut;
    for (unsigned char c : strText) {
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
            if (c < 0x20) {
                char szEscape[8];
                std::snprintf(szEscape, sizeof szEscape, "\\u%04x", c);
                strOut += szEscape;
            } else {
                strOut += static_cast<char>(c);
            }
        }
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

} // namespace fwup
