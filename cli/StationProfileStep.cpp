// update and auto under a station profile: the profile's settings, its lock, and
// the image verdict, all before any port is touched.
#include "cli/CliCommands.h"

#include "device/UpdateOutcome.h"
#include "station/ImageVerdict.h"
#include "station/StationProfile.h"
#include "workflows/CRetryingJob.h"

#include <cstdio>

namespace fwup::cli {

static_assert(kMaxProfileRetries == kMaxRetries, "a profile's retries obey --retries' bound");

namespace {

std::optional<std::string> Given(const std::string& strValue) {
    return strValue.empty() ? std::nullopt : std::optional<std::string>(strValue);
}

} // namespace

int ApplyStationProfile(const char* pszCommand, bool bAuto, const char* pszHelp,
                        JobOptions& options, CUnitRecordLog& records) {
    const bool bStationGiven = !options.strStation.empty();
    StationProfile profile;
    bool bFound = false;
    std::string strFindError;
    if (!FindStationProfile(options.strProfile, profile, bFound, strFindError)) {
        std::fprintf(stderr, "fwupgrader-cli %s: %s\n", pszCommand, strFindError.c_str());
        return kExitUsage;
    }
    if (bFound) {
        StationSettings settings;
        settings.optStation = Given(options.strStation);
        settings.optRecord = Given(options.strRecord);
        // One reader at a time has one slot: a profile's slots serve --parallel only.
        settings.optSlots = Given(options.strSlots);
        settings.optImage = Given(options.strFile);
        settings.optExpectVersion = Given(options.strExpectVersion);
        if (options.bRetriesGiven) {
            settings.optRetries = options.nRetries;
        }
        std::string strError;
        if (!MergeStationProfile(profile, settings, strError)) {
            std::fprintf(stderr, "fwupgrader-cli %s: %s\n", pszCommand, strError.c_str());
            return kExitUsage;
        }
        options.strStation = settings.optStation.value_or("");
        options.strRecord = settings.optRecord.value_or("");
        options.strSlots = bAuto && options.bParallel ? settings.optSlots.value_or("") : "";
        options.strFile = settings.optImage.value_or("");
        options.nRetries = settings.optRetries.value_or(0);
        options.strExpectVersion = settings.optExpectVersion.value_or("");
    }
    if (bStationGiven && options.strRecord.empty()) {
        std::fprintf(stderr,
                     "fwupgrader-cli %s: --station names the station in records: it needs "
                     "--record STORE\n\n%s",
                     pszCommand, pszHelp);
        return kExitUsage;
    }
    if (options.strFile.empty()) {
        std::fprintf(stderr, "fwupgrader-cli %s: --file FW.bin is required\n\n%s", pszCommand,
                     pszHelp);
        return kExitUsage;
    }
    // A mistyped path is told at once, before the port's detection takes its seconds.
    if (!CheckFirmwareFile(pszCommand, options.strFile)) {
        return OutcomeExitCode(OutcomeKind::InvalidFirmware);
    }
    const ImageVerdict verdict = JudgeImage(options.strFile, profile);
    if (!verdict.bAccepted) {
        std::fprintf(stderr, "fwupgrader-cli %s: %s\ncause: %s\n", pszCommand,
                     OutcomeText(OutcomeKind::InvalidFirmware), verdict.strCause.c_str());
        return OutcomeExitCode(OutcomeKind::InvalidFirmware);
    }
    if (bFound) {
        // The job loads the file again: it must be the bytes judged here.
        options.strApprovedSha256 = verdict.strSha256;
    }
    if (const std::optional<std::string> optSigner = SignerOf(verdict.signature)) {
        records.SetImageSignature(SignedVersionOf(verdict.signature), *optSigner);
    }
    return -1;
}

} // namespace fwup::cli
