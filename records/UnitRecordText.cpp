// Reading record lines back (import, the spool), UTC times given on a command
// line, and record ids.
#include "records/UnitRecord.h"
#include "records/UnitRecordFields.h"

#include "device/Sha256.h"
#include "serial/Utf8Text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>

namespace fwup {

namespace {

std::string UuidText(std::array<uint8_t, 16> bytes, uint8_t nVersion) {
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0f) | (nVersion << 4));
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3f) | 0x80);
    const std::string strHex = HexText(bytes.data(), bytes.size());
    return strHex.substr(0, 8) + "-" + strHex.substr(8, 4) + "-" + strHex.substr(12, 4) + "-" +
           strHex.substr(16, 4) + "-" + strHex.substr(20);
}

// A JSON value of a flat object: a string, a number's text, or null.
struct JsonValue {
    bool bNull = false;
    bool bString = false;
    std::string strText;
};

class CFlatJsonReader {
public:
    explicit CFlatJsonReader(const std::string& strText) : m_str(strText) {}

    bool Read(std::map<std::string, JsonValue>& values, std::string& strError) {
        Skip();
        if (!Eat('{')) {
            return Fail("a record line starts with '{'", strError);
        }
        Skip();
        if (Eat('}')) {
            return End(strError);
        }
        for (;;) {
            std::string strKey;
            JsonValue value;
            Skip();
            if (!String(strKey) || (Skip(), !Eat(':')) || (Skip(), !Value(value))) {
                return Fail("malformed record line near column " + std::to_string(m_n + 1),
                            strError);
            }
            values[strKey] = value;
            Skip();
            if (Eat('}')) {
                return End(strError);
            }
            if (!Eat(',')) {
                return Fail("expected ',' or '}' at column " + std::to_string(m_n + 1), strError);
            }
        }
    }

private:
    bool End(std::string& strError) {
        Skip();
        return m_n == m_str.size() || Fail("text after the record's '}'", strError);
    }
    static bool Fail(const std::string& strWhy, std::string& strError) {
        strError = strWhy;
        return false;
    }
    void Skip() {
        while (m_n < m_str.size() && (m_str[m_n] == ' ' || m_str[m_n] == '\t' ||
                                      m_str[m_n] == '\r' || m_str[m_n] == '\n')) {
            ++m_n;
        }
    }
    bool Eat(char c) {
        if (m_n < m_str.size() && m_str[m_n] == c) {
            ++m_n;
            return true;
        }
        return false;
    }
    bool Hex4(uint32_t& dwCode) {
        if (m_n + 4 > m_str.size()) {
            return false;
        }
        dwCode = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = m_str[m_n++];
            const int nDigit = c >= '0' && c <= '9'   ? c - '0'
                               : c >= 'a' && c <= 'f' ? c - 'a' + 10
                               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                      : -1;
            if (nDigit < 0) {
                return false;
            }
            dwCode = dwCode * 16 + static_cast<uint32_t>(nDigit);
        }
        return true;
    }
    bool String(std::string& strOut) {
        if (!Eat('"')) {
            return false;
        }
        while (m_n < m_str.size()) {
            const char c = m_str[m_n++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                strOut += c;
                continue;
            }
            if (m_n >= m_str.size()) {
                return false;
            }
            const char e = m_str[m_n++];
            static const std::string strFrom = "\"\\/bfnrt", strTo = "\"\\/\b\f\n\r\t";
            if (const size_t nAt = strFrom.find(e); nAt != std::string::npos) {
                strOut += strTo[nAt];
            } else if (e == 'u') {
                uint32_t dwCode = 0;
                if (!Hex4(dwCode)) {
                    return false;
                }
                if (dwCode >= 0xd800 && dwCode < 0xdc00) {
                    uint32_t dwLow = 0;
                    if (!Eat('\\') || !Eat('u') || !Hex4(dwLow) || dwLow < 0xdc00 ||
                        dwLow >= 0xe000) {
                        return false;
                    }
                    dwCode = 0x10000 + ((dwCode - 0xd800) << 10) + (dwLow - 0xdc00);
                } else if (dwCode >= 0xdc80 && dwCode <= 0xdcff) {
                    // A lone low surrogate: JsonEscape's form of a byte that
                    // is not UTF-8 (0x80..0xff); the byte itself comes back.
                    strOut += static_cast<char>(dwCode - 0xdc00);
                    continue;
                } else if (dwCode >= 0xdc00 && dwCode < 0xe000) {
                    return false;
                }
                AppendUtf8(strOut, dwCode);
            } else {
                return false;
            }
        }
        return false;
    }
    bool Value(JsonValue& value) {
        if (m_n < m_str.size() && m_str[m_n] == '"') {
            value.bString = true;
            return String(value.strText);
        }
        if (m_str.compare(m_n, 4, "null") == 0) {
            m_n += 4;
            value.bNull = true;
            return true;
        }
        const size_t nStart = m_n;
        while (m_n < m_str.size() &&
               std::string("+-.0123456789eE").find(m_str[m_n]) != std::string::npos) {
            ++m_n;
        }
        value.strText = m_str.substr(nStart, m_n - nStart);
        return m_n > nStart;
    }

    const std::string& m_str;
    size_t m_n = 0;
};

// False when strText is no whole number; bRange false when it is one that no
// int64_t holds.
bool WholeNumber(const std::string& strText, int64_t& nValue, bool& bRange) {
    char* pEnd = nullptr;
    errno = 0;
    nValue = std::strtoll(strText.c_str(), &pEnd, 10);
    bRange = errno != ERANGE;
    return !strText.empty() && *pEnd == '\0';
}

// The field's range: its least value, and what its member's type holds.
bool InRange(const UnitRecordField& field, double dValue) {
    const double dMax = std::holds_alternative<int UnitRecord::*>(field.member)
                            ? static_cast<double>(INT_MAX)
                            : static_cast<double>(INT64_MAX);
    const double dMin = std::max(static_cast<double>(field.nMinimum),
                                 std::holds_alternative<int UnitRecord::*>(field.member)
                                     ? static_cast<double>(INT_MIN)
                                     : -dMax);
    return std::isfinite(dValue) && dValue >= dMin && dValue <= dMax;
}

bool OutOfRange(const std::string& strKey, const std::string& strText, std::string& strError) {
    strError = "\"" + strKey + "\" is out of range: " + strText;
    return false;
}

bool Missing(const std::string& strKey, std::string& strError) {
    strError = "the record has no \"" + strKey + "\"";
    return false;
}

// Sets one field from a line's values; a field the line lacks (or has as null)
// keeps its default unless it is required. False with strError.
bool ReadField(const std::map<std::string, JsonValue>& values, const UnitRecordField& field,
               UnitRecord& r, std::string& strError) {
    const std::string strKey = field.pszJsonKey;
    const auto it = values.find(strKey);
    const bool bRequired = (field.dwFlags & kFieldRequired) != 0;
    const bool bMissing = it == values.end();
    if (std::holds_alternative<double UnitRecord::*>(field.member)) {
        if (bMissing && !bRequired) {
            return true;
        }
        char* pEnd = nullptr;
        if (bMissing || it->second.bString || it->second.bNull || it->second.strText.empty() ||
            (std::strtod(it->second.strText.c_str(), &pEnd), *pEnd != '\0')) {
            strError = "\"" + strKey + "\" is not a number";
            return false;
        }
        if (!InRange(field, std::strtod(it->second.strText.c_str(), nullptr))) {
            return OutOfRange(strKey, it->second.strText, strError);
        }
        SetFieldText(r, field, it->second.strText);
        return true;
    }
    if (IsNumberField(field)) {
        int64_t nValue = 0;
        if (bMissing) {
            return !bRequired || Missing(strKey, strError);
        }
        bool bRange = true;
        if (it->second.bString || it->second.bNull ||
            !WholeNumber(it->second.strText, nValue, bRange)) {
            strError = "\"" + strKey + "\" is not a whole number";
            return false;
        }
        if (!bRange || !InRange(field, static_cast<double>(nValue)) || nValue < field.nMinimum) {
            return OutOfRange(strKey, it->second.strText, strError);
        }
        SetFieldText(r, field, std::to_string(nValue));
        return true;
    }
    if (bMissing || it->second.bNull) {
        if (IsOptionalField(field)) {
            SetFieldText(r, field, std::nullopt);
        }
        return !bRequired || Missing(strKey, strError);
    }
    if (!it->second.bString) {
        strError = "\"" + strKey + "\" is not a text";
        return false;
    }
    if (it->second.strText.find('\0') != std::string::npos) {
        strError = "\"" + strKey + "\" holds a NUL character"; // C strings end there
        return false;
    }
    SetFieldText(r, field, it->second.strText);
    return true;
}
} // namespace

std::string CanonicalUtcTime(const std::string& strText) {
    int nYear = 0, nMonth = 0, nDay = 0, nHour = 0, nMinute = 0, nSecond = 0, nUsed = 0;
    const char* psz = strText.c_str();
    if (std::sscanf(psz, "%4d-%2d-%2d%n", &nYear, &nMonth, &nDay, &nUsed) != 3 || nUsed != 10) {
        return {};
    }
    std::string strRest = strText.substr(10);
    if (!strRest.empty() && strRest.back() == 'Z') {
        strRest.pop_back();
    }
    if (!strRest.empty()) {
        int nRest = 0;
        if (std::sscanf(strRest.c_str(), "T%2d:%2d%n", &nHour, &nMinute, &nRest) != 2 ||
            nRest != 6 ||
            (strRest.size() > 6 &&
             (std::sscanf(strRest.c_str() + 6, ":%2d%n", &nSecond, &nRest) != 1 || nRest != 3 ||
              strRest.size() != 9))) {
            return {};
        }
    }
    const bool bLeap = nYear % 4 == 0 && (nYear % 100 != 0 || nYear % 400 == 0);
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (nMonth < 1 || nMonth > 12 || nDay < 1 ||
        nDay > kDays[nMonth - 1] + (nMonth == 2 && bLeap ? 1 : 0) || nHour > 23 || nMinute > 59 ||
        nSecond > 60 || nHour < 0 || nMinute < 0 || nSecond < 0) {
        return {};
    }
    char szText[80];
    std::snprintf(szText, sizeof szText, "%04d-%02d-%02dT%02d:%02d:%02dZ", nYear, nMonth, nDay,
                  nHour, nMinute, nSecond);
    return szText;
}

std::string NewRecordId() {
    std::random_device device;
    std::array<uint8_t, 16> bytes{};
    for (size_t i = 0; i < bytes.size(); i += 4) {
        const uint32_t dwRandom = device();
        for (size_t k = 0; k < 4; ++k) {
            bytes[i + k] = static_cast<uint8_t>(dwRandom >> (8 * k));
        }
    }
    return UuidText(bytes, 4);
}

std::string DerivedRecordId(const std::string& strText) {
    CSha256 sha;
    sha.Update(reinterpret_cast<const uint8_t*>(strText.data()), strText.size());
    const auto digest = sha.Final();
    std::array<uint8_t, 16> bytes{};
    std::copy(digest.begin(), digest.begin() + 16, bytes.begin());
    return UuidText(bytes, 5);
}

bool ParseUnitRecord(const std::string& strLine, UnitRecord& record, std::string& strError) {
    std::map<std::string, JsonValue> values;
    if (!CFlatJsonReader(strLine).Read(values, strError)) {
        return false;
    }
    UnitRecord r;
    // Numbers with decimals are read after the rest and times checked last, so that
    // a line wrong in two places is refused for the reason it always was.
    for (const bool bReal : {false, true}) {
        for (const UnitRecordField& field : kUnitRecordFields) {
            if (std::holds_alternative<double UnitRecord::*>(field.member) == bReal &&
                !ReadField(values, field, r, strError)) {
                return false;
            }
        }
    }
    for (const UnitRecordField& field : kUnitRecordFields) {
        const std::string strTime = FieldText(r, field).value_or("");
        if (IsUtcTimeField(field) && CanonicalUtcTime(strTime) != strTime) {
            strError = std::string("\"") + field.pszJsonKey +
                       "\" is not a UTC time like 2026-12-08T06:10:00Z";
            return false;
        }
    }
    if (values.count("slot") == 0) {
        r.strSlot = r.strConnector; // an older line: the slot was its connector
    }
    if (r.strId.empty()) {
        std::string strTrimmed = strLine;
        while (!strTrimmed.empty() && (strTrimmed.back() == '\n' || strTrimmed.back() == '\r')) {
            strTrimmed.pop_back();
        }
        r.strId = DerivedRecordId(strTrimmed);
    }
    record = r;
    return true;
}
} // namespace fwup
