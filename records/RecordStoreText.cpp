#include "records/RecordStoreText.h"

#include "records/RecordBackends.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <utility>
#include <vector>

namespace fwup {

namespace {

using Span = std::pair<size_t, size_t>; // start, length

bool StartsWith(const std::string& strText, const char* pszPrefix) {
    return strText.rfind(pszPrefix, 0) == 0;
}

bool EndsWith(std::string strText, const std::string& strSuffix) {
    std::transform(strText.begin(), strText.end(), strText.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return strText.size() >= strSuffix.size() &&
           strText.compare(strText.size() - strSuffix.size(), strSuffix.size(), strSuffix) == 0;
}

bool IsUri(const std::string& strText) {
    return StartsWith(strText, "postgresql://") || StartsWith(strText, "postgres://");
}

bool IsSecretKey(const std::string& strKey) {
    return strKey == "password" || strKey == "sslpassword";
}

bool IsBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// A URI's %XX escapes decoded; a malformed one is kept as it stands.
std::string PercentDecoded(const std::string& strText) {
    std::string strOut;
    for (size_t n = 0; n < strText.size(); ++n) {
        if (strText[n] == '%' && n + 2 < strText.size() &&
            std::isxdigit(static_cast<unsigned char>(strText[n + 1])) &&
            std::isxdigit(static_cast<unsigned char>(strText[n + 2]))) {
            strOut += static_cast<char>(std::stoi(strText.substr(n + 1, 2), nullptr, 16));
            n += 2;
        } else {
            strOut += strText[n];
        }
    }
    return strOut;
}

// The key=value pairs as libpq reads them: key, optional blanks, '=', optional
// blanks, then a value that is either 'quoted' or runs to the next blank (a
// backslash escapes the next character in both). Stops at the first malformed
// pair. Each pair: its key and the value's span in the text.
std::vector<std::pair<std::string, Span>> KeyValuePairs(const std::string& strText) {
    std::vector<std::pair<std::string, Span>> pairs;
    const size_t nSize = strText.size();
    size_t n = 0;
    const auto skipBlanks = [&] {
        while (n < nSize && IsBlank(strText[n])) {
            ++n;
        }
    };
    for (;;) {
        skipBlanks();
        const size_t nKey = n;
        while (n < nSize && strText[n] != '=' && !IsBlank(strText[n])) {
            ++n;
        }
        const std::string strKey = strText.substr(nKey, n - nKey);
        skipBlanks();
        if (strKey.empty() || n >= nSize || strText[n] != '=') {
            return pairs;
        }
        ++n;
        skipBlanks();
        const size_t nValue = n;
        const bool bQuoted = n < nSize && strText[n] == '\'';
        for (n += bQuoted ? 1 : 0; n < nSize; ++n) {
            if (strText[n] == '\\') {
                ++n;
            } else if (bQuoted ? strText[n] == '\'' : IsBlank(strText[n])) {
                break;
            }
        }
        n = std::min(n + (bQuoted ? 1 : 0), nSize);
        pairs.emplace_back(strKey, Span(nValue, n - nValue));
    }
}

// Where a connection string spells a secret: a URI's user:password@ and its
// ?password= parameters (keys %-decoded), or a key=value string's password and
// sslpassword values, quotes and all.
std::vector<Span> SecretSpans(const std::string& strText) {
    std::vector<Span> spans;
    if (!IsUri(strText)) {
        for (const auto& [strKey, span] : KeyValuePairs(strText)) {
            if (IsSecretKey(strKey)) {
                spans.push_back(span);
            }
        }
        return spans;
    }
    // As libpq: user[:password]@ runs to the first '@' unless a '/' comes first.
    const size_t nAuthority = strText.find("://") + 3;
    const size_t nStop = strText.find_first_of("@/", nAuthority);
    size_t nQuery = nAuthority;
    if (nStop != std::string::npos && strText[nStop] == '@') {
        const size_t nColon = strText.find(':', nAuthority);
        if (nColon < nStop) {
            spans.emplace_back(nColon + 1, nStop - nColon - 1);
        }
        nQuery = nStop + 1;
    }
    nQuery = strText.find('?', nQuery);
    for (size_t n = nQuery; n != std::string::npos && n < strText.size();) {
        const size_t nStart = n + 1;
        const size_t nEnd = std::min(strText.find('&', nStart), strText.size());
        const size_t nEquals = strText.find('=', nStart);
        if (nEquals < nEnd &&
            IsSecretKey(PercentDecoded(strText.substr(nStart, nEquals - nStart)))) {
            spans.emplace_back(nEquals + 1, nEnd - nEquals - 1);
        }
        n = nEnd;
    }
    return spans;
}

std::string WithSpansMasked(std::string strText, std::vector<Span> spans) {
    std::sort(spans.begin(), spans.end());
    for (auto it = spans.rbegin(); it != spans.rend(); ++it) {
        strText.replace(it->first, it->second, "***");
    }
    return strText;
}

// Shown when a string cannot be proven masked: none of its values.
std::string AllMasked(const std::string& strText) {
    const size_t nScheme = strText.find("://");
    return nScheme != std::string::npos ? strText.substr(0, nScheme + 3) + "***" : "***";
}

void ReplaceAll(std::string& strText, const std::string& strFind, const std::string& strWith) {
    if (strFind.empty()) {
        return;
    }
    for (size_t n = strText.find(strFind); n != std::string::npos;
         n = strText.find(strFind, n + strWith.size())) {
        strText.replace(n, strFind.size(), strWith);
    }
}

} // namespace

StoreKind StoreKindOf(const std::string& strStore) {
    if (IsUri(strStore)) {
        return StoreKind::Postgres;
    }
    for (const auto& pair : KeyValuePairs(strStore)) {
        if (pair.first == "host" || pair.first == "hostaddr" || pair.first == "dbname" ||
            pair.first == "service") {
            return StoreKind::Postgres;
        }
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
    // Masked by our reading of the text, then proven by libpq's: the masked text
    // must parse and give every secret as ***. Else (or without libpq) nothing
    // of it is shown.
    const std::string strMasked = WithSpansMasked(strStore, SecretSpans(strStore));
    std::vector<std::string> secrets;
    std::string strIgnored;
    if (!ParseStoreSecrets(strStore, secrets, strIgnored)) {
        return AllMasked(strStore);
    }
    const size_t nSecrets = secrets.size();
    secrets.clear();
    if (!ParseStoreSecrets(strMasked, secrets, strIgnored) || secrets.size() != nSecrets ||
        std::any_of(secrets.begin(), secrets.end(),
                    [](const std::string& strSecret) { return strSecret != "***"; })) {
        return AllMasked(strStore);
    }
    return strMasked;
}

std::string ScrubbedStoreMessage(const std::string& strMessage, const std::string& strStore) {
    std::string strText = strMessage;
    if (StoreKindOf(strStore) != StoreKind::Postgres) {
        return strText;
    }
    ReplaceAll(strText, strStore, MaskedStore(strStore));
    for (const Span& span : SecretSpans(strStore)) {
        ReplaceAll(strText, strStore.substr(span.first, span.second), "***");
    }
    std::vector<std::string> secrets;
    std::string strIgnored;
    ParseStoreSecrets(strStore, secrets, strIgnored);
    for (const std::string& strSecret : secrets) {
        ReplaceAll(strText, strSecret, "***");
    }
    return strText;
}

std::string StoreKey(const std::string& strStore) {
    if (StoreKindOf(strStore) == StoreKind::Postgres) {
        return MaskedStore(strStore);
    }
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::absolute(PathFromUtf8(strStore), ec);
    return ec ? strStore : Utf8FromPath(path.lexically_normal());
}

std::filesystem::path PathFromUtf8(const std::string& strPath) {
    return std::filesystem::path(std::u8string(strPath.begin(), strPath.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
    const std::u8string strPath = path.u8string();
    return std::string(strPath.begin(), strPath.end());
}

} // namespace fwup
