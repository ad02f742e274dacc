// The station profile: reading the TOML file and merging it with the command line.
#include "station/StationProfile.h"

#include <toml.hpp>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fwup {

namespace {

const char* const kKnownKeys[] = {
    "station",        "record",         "slots",        "retries",
    "image",          "expect_version", "trusted_keys", "require_signature",
    "allowed_sha256", "locked"};

std::string Where(const std::string& strPath, const toml::value& value) {
    return strPath + ":" + std::to_string(value.location().line()) + ": ";
}

// The first line of toml11's message, without its "[error] toml::function: " lead.
std::string SyntaxMessage(const std::string& strWhat) {
    std::string strLine = strWhat.substr(0, strWhat.find('\n'));
    if (strLine.rfind("[error] ", 0) == 0) {
        strLine.erase(0, 8);
    }
    if (strLine.rfind("toml::", 0) == 0 && strLine.find(": ") != std::string::npos) {
        strLine.erase(0, strLine.find(": ") + 2);
    }
    return strLine;
}

bool IsSha256Hex(const std::string& strText) {
    return strText.size() == 64 && std::all_of(strText.begin(), strText.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) != 0;
           });
}

std::string Lower(std::string strText) {
    for (char& c : strText) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return strText;
}

std::string FromProfileFolder(const std::string& strPath, const std::string& strValue) {
    const std::filesystem::path value(strValue);
    if (value.is_absolute()) {
        return strValue;
    }
    return (std::filesystem::path(strPath).parent_path() / value).string();
}

std::string SamePathKey(const std::string& strPath) {
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(strPath, ec);
    return ec ? strPath : canonical.string();
}

// One key's value into the profile; false with strError.
bool ReadKey(const std::string& strKey, const toml::value& value, const std::string& strPath,
             StationProfile& profile, std::string& strError) {
    const std::string strWhere = Where(strPath, value);
    auto text = [&](std::optional<std::string>& optOut) {
        if (!value.is_string() || value.as_string().str.empty()) {
            strError = strWhere + "'" + strKey + "' must be a text that is not empty";
            return false;
        }
        optOut = value.as_string().str;
        return true;
    };
    auto flag = [&](bool& bOut) {
        if (!value.is_boolean()) {
            strError = strWhere + "'" + strKey + "' must be true or false";
            return false;
        }
        bOut = value.as_boolean();
        return true;
    };
    auto texts = [&](const auto& take) {
        if (!value.is_array()) {
            strError = strWhere + "'" + strKey + "' must be a list of texts";
            return false;
        }
        for (const toml::value& item : value.as_array()) {
            if (!item.is_string()) {
                strError = Where(strPath, item) + "'" + strKey + "' must be a list of texts";
                return false;
            }
            if (!take(item, item.as_string().str)) {
                return false;
            }
        }
        return true;
    };
    if (strKey == "station") {
        return text(profile.optStation);
    }
    if (strKey == "record") {
        if (!text(profile.optRecord)) {
            return false;
        }
        // A URI stays as it is; a file is found like the profile's other files.
        if (profile.optRecord->find("://") == std::string::npos) {
            profile.optRecord = FromProfileFolder(strPath, *profile.optRecord);
        }
        return true;
    }
    if (strKey == "slots" || strKey == "image") {
        std::optional<std::string>& optOut =
            strKey == "slots" ? profile.optSlots : profile.optImage;
        if (!text(optOut)) {
            return false;
        }
        optOut = FromProfileFolder(strPath, *optOut);
        return true;
    }
    if (strKey == "expect_version") {
        return text(profile.optExpectVersion);
    }
    if (strKey == "retries") {
        if (!value.is_integer() || value.as_integer() < 0 ||
            value.as_integer() > kMaxProfileRetries) {
            strError = strWhere + "'retries' must be a whole number from 0 to " +
                       std::to_string(kMaxProfileRetries);
            return false;
        }
        profile.optRetries = static_cast<int>(value.as_integer());
        return true;
    }
    if (strKey == "require_signature") {
        return flag(profile.bRequireSignature);
    }
    if (strKey == "locked") {
        return flag(profile.bLocked);
    }
    if (strKey == "trusted_keys") {
        return texts([&](const toml::value& item, const std::string& strItem) {
            MinisignPublicKey key;
            std::string strWhy;
            if (!ParseMinisignPublicKey(strItem, key, strWhy)) {
                strError = Where(strPath, item) + "trusted_keys: " + strWhy;
                return false;
            }
            profile.trustedKeys.push_back(key);
            return true;
        });
    }
    // allowed_sha256
    return texts([&](const toml::value& item, const std::string& strItem) {
        if (!IsSha256Hex(strItem)) {
            strError = Where(strPath, item) + "allowed_sha256: '" + strItem +
                       "' is not a SHA-256 (64 hex digits)";
            return false;
        }
        profile.allowedSha256.push_back(Lower(strItem));
        return true;
    });
}

} // namespace

bool ParseStationProfile(const std::string& strText, const std::string& strPath,
                         StationProfile& profile, std::string& strError) {
    profile = StationProfile{};
    profile.strPath = strPath;
    toml::value root;
    try {
        std::istringstream in(strText);
        root = toml::parse(in, strPath);
    } catch (const toml::exception& error) {
        strError = strPath + ":" + std::to_string(error.location().line()) + ": " +
                   SyntaxMessage(error.what());
        return false;
    }
    // Keys in the file's order, so the first wrong line is the one reported.
    std::vector<std::pair<std::string, const toml::value*>> keys;
    for (const auto& [strKey, value] : root.as_table()) {
        keys.emplace_back(strKey, &value);
    }
    std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
        return a.second->location().line() < b.second->location().line();
    });
    for (const auto& [strKey, pValue] : keys) {
        if (std::find(std::begin(kKnownKeys), std::end(kKnownKeys), strKey) ==
            std::end(kKnownKeys)) {
            strError = Where(strPath, *pValue) + "unknown key '" + strKey +
                       "' (known: station, record, slots, retries, image, expect_version, "
                       "trusted_keys, require_signature, allowed_sha256, locked)";
            return false;
        }
        if (!ReadKey(strKey, *pValue, strPath, profile, strError)) {
            return false;
        }
    }
    if (profile.bRequireSignature && profile.trustedKeys.empty()) {
        strError = Where(strPath, root.as_table().at("require_signature")) +
                   "require_signature needs at least one key in trusted_keys";
        return false;
    }
    return true;
}

bool LoadStationProfile(const std::string& strPath, StationProfile& profile,
                        std::string& strError) {
    std::ifstream in(strPath, std::ios::binary);
    if (!in) {
        strError = strPath + ": cannot be read";
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    return ParseStationProfile(content.str(), strPath, profile, strError);
}

bool FindStationProfile(const std::string& strGiven, StationProfile& profile, bool& bFound,
                        std::string& strError) {
    std::string strPath = strGiven;
    if (strPath.empty()) {
        std::error_code ec;
        strPath = DefaultProfilePath();
        if (!std::filesystem::exists(strPath, ec)) {
            bFound = false;
            return true;
        }
    }
    bFound = true;
    return LoadStationProfile(strPath, profile, strError);
}

bool MergeStationProfile(const StationProfile& profile, StationSettings& settings,
                         std::string& strError) {
    const std::string strLocked = "locked by the station profile " + profile.strPath + ": ";
    if (profile.bLocked) {
        std::string strCause;
        if (ProfileWritableByUser(profile.strPath, strCause)) {
            strError = "the station profile " + profile.strPath +
                       " is locked but this user may change it, so it locks nothing: " + strCause;
            return false;
        }
    }
    bool bOk = true;
    auto merge = [&](auto& optGiven, const auto& optProfile, const char* pszOption,
                     const auto& same) {
        if (!optProfile || !bOk) {
            return;
        }
        if (!optGiven) {
            optGiven = optProfile;
            return;
        }
        if (profile.bLocked && !same(*optGiven, *optProfile)) {
            std::ostringstream text;
            text << strLocked << pszOption << " " << *optGiven << " contradicts its "
                 << *optProfile;
            strError = text.str();
            bOk = false;
        }
    };
    const auto equal = [](const auto& a, const auto& b) { return a == b; };
    const auto samePath = [](const std::string& a, const std::string& b) {
        return SamePathKey(a) == SamePathKey(b);
    };
    merge(settings.optStation, profile.optStation, "--station", equal);
    merge(settings.optRecord, profile.optRecord, "--record", equal);
    merge(settings.optSlots, profile.optSlots, "--slots", samePath);
    merge(settings.optRetries, profile.optRetries, "--retries", equal);
    merge(settings.optImage, profile.optImage, "--file", samePath);
    merge(settings.optExpectVersion, profile.optExpectVersion, "--expect-version", equal);
    return bOk;
}

} // namespace fwup
