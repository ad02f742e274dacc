// The bench window's command line.

#include "windowmodel/BenchOptions.h"

#include "workflows/CRetryingJob.h"

#include <cstdlib>

namespace fwup {

namespace {

// A count in 0..kMaxRetries written in decimal digits only.
bool ParseRetryCount(const std::string& strValue, int& nRetries) {
    if (strValue.empty() || strValue.size() > 3 ||
        strValue.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    nRetries = std::atoi(strValue.c_str());
    return nRetries <= kMaxRetries;
}

} // namespace

bool ParseBenchOptions(const std::vector<std::string>& args, BenchOptions& options,
                       std::string& strError) {
    options = BenchOptions();
    bool bBenchOnly = false;
    std::string strBenchOnly;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& strArg = args[i];
        if (strArg == "--bench") {
            options.bBench = true;
            continue;
        }
        if (strArg == "--no-verify") {
            options.bVerify = false;
            continue;
        }
        std::string* pValue = nullptr;
        if (strArg == "--file") {
            pValue = &options.strFirmwarePath;
        } else if (strArg == "--record") {
            pValue = &options.strRecordStore;
        } else if (strArg == "--station") {
            pValue = &options.strStation;
        } else if (strArg == "--slots") {
            pValue = &options.strSlotsPath;
        } else if (strArg == "--profile") {
            pValue = &options.strProfilePath;
        } else if (strArg == "--expect-version") {
            pValue = &options.strExpectVersion;
        }
        std::string strRetries;
        if (strArg == "--retries") {
            pValue = &strRetries;
        }
        if (pValue == nullptr) {
            continue; // not ours
        }
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            strError = strArg + " needs a value";
            return false;
        }
        *pValue = args[++i];
        if (strArg == "--retries") {
            if (!ParseRetryCount(strRetries, options.nRetries)) {
                strError = "--retries takes a number from 0 to " + std::to_string(kMaxRetries) +
                           ", not '" + strRetries + "'";
                return false;
            }
            options.bRetriesGiven = true;
        }
        if (strArg != "--record" && strArg != "--profile" && strArg != "--expect-version" &&
            !bBenchOnly) {
            bBenchOnly = true;
            strBenchOnly = strArg;
        }
    }
    if (const char* pszStore = std::getenv(kRecordStoreVariable);
        options.strRecordStore.empty() && pszStore != nullptr) {
        options.strRecordStore = pszStore;
    }
    if (bBenchOnly && !options.bBench) {
        strError = strBenchOnly + " belongs to the bench window: add --bench";
        return false;
    }
    return true;
}

bool ApplyWindowProfile(BenchOptions& options, std::string& strError) {
    StationProfile profile;
    bool bFound = false;
    if (!FindStationProfile(options.strProfilePath, profile, bFound, strError)) {
        return false;
    }
    if (!bFound) {
        return true;
    }
    const auto given = [](const std::string& strValue) {
        return strValue.empty() ? std::nullopt : std::optional<std::string>(strValue);
    };
    StationSettings settings;
    settings.optStation = given(options.strStation);
    settings.optRecord = given(options.strRecordStore);
    settings.optSlots = given(options.strSlotsPath);
    settings.optImage = given(options.strFirmwarePath);
    settings.optExpectVersion = given(options.strExpectVersion);
    if (options.bRetriesGiven) {
        settings.optRetries = options.nRetries;
    }
    if (!MergeStationProfile(profile, settings, strError)) {
        return false;
    }
    options.strStation = settings.optStation.value_or("");
    options.strRecordStore = settings.optRecord.value_or("");
    options.strSlotsPath = settings.optSlots.value_or("");
    options.strFirmwarePath = settings.optImage.value_or("");
    options.nRetries = settings.optRetries.value_or(0);
    options.strExpectVersion = settings.optExpectVersion.value_or("");
    options.optProfile = std::move(profile);
    return true;
}

const char* BenchUsageText() {
    return "  --bench          the bench window: many readers at once, one row per slot\n"
           "  --file FW.bin    (bench) the image every reader gets\n"
           "  --station NAME   (bench) the bench's name, shown and kept in the records\n"
           "  --slots FILE     (bench) slot labels, lines 'CONNECTOR LABEL' ('#' comments);\n"
           "                   without it slots are 'Slot N' in the order first seen\n"
           "  --retries N      (bench) run a job again up to N times after a\n"
           "                   \"Communication Error\" or a failed boot loader entry while\n"
           "                   its reader is still present (default 0)\n"
           "  --profile FILE   the station profile (default: the station's own, when\n"
           "                   present); a locked one fixes the image and the records\n"
           "  --expect-version V  the version the image brings: a reader already\n"
           "                   reporting it is left alone (\"current\"), one reporting\n"
           "                   another after its download fails (\"verify failed\")\n"
           "  --no-verify      send nothing after the finish reply (by default each\n"
           "                   reader is waited for, up to 10 s, and asked its version)\n";
}

} // namespace fwup
