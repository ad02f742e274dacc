#include "records/RecordStoreText.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace fwup {

namespace {

bool StartsWith(const std::string& strText, const char* pszPrefix) {
    return strText.rfind(pszPrefix, 0) == 0;
}

bool EndsWith(std::string strText, const std::string& strSuffix) {
    std::transform(strText.begin(), strText.end(), strText.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return strText.size() >= strSuffix.size() &&
           strText.compare(strText.size() - strSuffix.size(), strSuffix.size(), strSuffix) == 0;
}

// Masks the value after each "password=" up to the next delimiter.
void MaskPasswordPairs(std::string& strText, const char* pszDelimiters) {
    for (size_t nAt = strText.find("password="); nAt != std::string::npos;
         nAt = strText.find("password=", nAt + 1)) {
        const size_t nStart = nAt + 9;
        size_t nEnd = nStart;
        if (nEnd < strText.size() && strText[nEnd] == '\'') { // key='quoted value'
            for (++nEnd; nEnd < strText.size() && strText[nEnd] != '\''; ++nEnd) {
                nEnd += strText[nEnd] == '\\' ? 1 : 0;
            }
            nEnd = std::min(nEnd + 1, strText.size());
        } else {
            nEnd = strText.find_first_of(pszDelimiters, nStart);
            nEnd = nEnd == std::string::npos ? strText.size() : nEnd;
        }
        strText.replace(nStart, nEnd - nStart, "***");
    }
}

} // namespace

StoreKind StoreKindOf(const std::string& strStore) {
    if (StartsWith(strStore, "postgresql://") || StartsWith(strStore, "postgres://") ||
        (strStore.find('=') != std::string::npos &&
         (strStore.find("host=") != std::string::npos ||
          strStore.find("dbname=") != std::string::npos))) {
        return StoreKind::Postgres;
    }
    if (EndsWith(strStore, ".db") || EndsWith(strStore, ".sqlite") ||
        EndsWith(strStore, ".sqlite3")) {
        return StoreKind::Sqlite;
    }
    return StoreKind::JsonLines;
}

std::string MaskedStore(const std::string& strStore) {
    if (StoreKindOf(strStore) != StoreKind::Postgres) {
        return strStore;
    }
    std::string strText = strStore;
    const size_t nScheme = strText.find("://");
    if (nScheme != std::string::npos) {
        const size_t nAuthority = nScheme + 3;
        const size_t nAuthorityEnd = strText.find_first_of("/?", nAuthority);
        const size_t nAt = strText.rfind('@', nAuthorityEnd == std::string::npos ? std::string::npos
                                                                                 : nAuthorityEnd);
        if (nAt != std::string::npos && nAt >= nAuthority) {
            const size_t nColon = strText.find(':', nAuthority);
            if (nColon != std::string::npos && nColon < nAt) {
                strText.replace(nColon + 1, nAt - nColon - 1, "***");
            }
        }
        MaskPasswordPairs(strText, "&#");
    } else {
        MaskPasswordPairs(strText, " \t");
    }
    return strText;
}

std::string StoreKey(const std::string& strStore) {
    if (StoreKindOf(strStore) == StoreKind::Postgres) {
        return MaskedStore(strStore);
    }
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::absolute(strStore, ec);
    return ec ? strStore : path.lexically_normal().string();
}

} // namespace fwup
