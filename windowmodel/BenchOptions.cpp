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
        std::string* pValue = nullptr;
        if (strArg == "--file") {
            pValue = &options.strFirmwarePath;
        } else if (strArg == "--record") {
            pValue = &options.strRecordStore;
        } else if (strArg == "--station") {
            pValue = &options.strStation;
        } else if (strArg == "--slots") {
            pValue = &options.strSlotsPath;
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
        if (strArg == "--retries" && !ParseRetryCount(strRetries, options.nRetries)) {
            strError = "--retries takes a number from 0 to " + std::to_string(kMaxRetries) +
                       ", not '" + strRetries + "'";
            return false;
        }
        if (strArg != "--record" && !bBenchOnly) {
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

const char* BenchUsageText() {
    return "  --bench          the bench window: many readers at once, one row per slot\n"
           "  --file FW.bin    (bench) the image every reader gets\n"
           "  --station NAME   (bench) the bench's name, shown and kept in the records\n"
           "  --slots FILE     (bench) slot labels, lines 'CONNECTOR LABEL' ('#' comments);\n"
           "                   without it slots are 'Slot N' in the order first seen\n"
           "  --retries N      (bench) run a job again up to N times after a\n"
           "                   \"Communication Error\" or a failed boot loader entry while\n"
           "                   its reader is still present (default 0)\n";
}

} // namespace fwup
