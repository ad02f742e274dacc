// fwupgrader-cli image check: what an image is and whether this station would
// flash it, without a reader.
#include "cli/CliCommands.h"

#include "device/FirmwareFile.h"
#include "device/UpdateOutcome.h"
#include "serial/Utf8Text.h"
#include "station/ImageVerdict.h"
#include "station/StationProfile.h"

#include <cstdio>
#include <filesystem>

namespace fwup::cli {

namespace {

const char* const kImageHelp =
    "usage: fwupgrader-cli image check [FW.bin] [--profile FILE] [--json]\n"
    "\n"
    "  FW.bin     the image (default: the station profile's image); its signature\n"
    "             is FW.bin.minisig beside it\n"
    "  --profile  the station profile whose rules judge the image (default, when\n"
    "             present: /etc/fwupgrader/station.toml; %ProgramData%\\fwupgrader\\\n"
    "             station.toml on Windows); without one any image within the size\n"
    "             rules passes\n"
    "  --json     one JSON object instead of lines\n"
    "\n"
    "Prints the size, SHA-256, signature status (verified, unsigned, unchecked,\n"
    "untrusted key, mismatch, malformed, unsupported), the signing key's id, the\n"
    "signed version and the verdict. Exit code 0 when update would flash it, 12\n"
    "(invalid firmware file) when it would refuse it, 2 for a bad command line or\n"
    "profile.\n";

} // namespace

int RunImage(const std::vector<std::string>& args) {
    std::string strFile;
    std::string strProfile;
    bool bJson = false;
    bool bCheck = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(kImageHelp, stdout);
            return kExitOk;
        }
        if (args[i] == "check" && !bCheck) {
            bCheck = true;
        } else if (args[i] == "--json") {
            bJson = true;
        } else if (args[i] == "--profile" && i + 1 < args.size()) {
            strProfile = args[++i];
        } else if (bCheck && strFile.empty() && !args[i].starts_with("--")) {
            strFile = args[i];
        } else {
            std::fprintf(stderr, "fwupgrader-cli image: unexpected '%s'\n\n%s", args[i].c_str(),
                         kImageHelp);
            return kExitUsage;
        }
    }
    if (!bCheck) {
        std::fprintf(stderr, "fwupgrader-cli image: the action 'check' is required\n\n%s",
                     kImageHelp);
        return kExitUsage;
    }
    StationProfile profile;
    std::string strProfileUsed = strProfile;
    std::error_code ec;
    if (strProfileUsed.empty() && std::filesystem::exists(DefaultProfilePath(), ec)) {
        strProfileUsed = DefaultProfilePath();
    }
    std::string strError;
    if (!strProfileUsed.empty() && !LoadStationProfile(strProfileUsed, profile, strError)) {
        std::fprintf(stderr, "fwupgrader-cli image: %s\n", strError.c_str());
        return kExitUsage;
    }
    if (strFile.empty()) {
        if (!profile.optImage) {
            std::fprintf(stderr,
                         "fwupgrader-cli image: name the image (no station profile "
                         "names one)\n\n%s",
                         kImageHelp);
            return kExitUsage;
        }
        strFile = *profile.optImage;
    }
    ImageVerdict verdict = JudgeImage(strFile, profile);
    // The size rules first: the job would refuse such a file whatever its signature.
    UpdateRequest probe;
    uint32_t dwAreaFlags = 0;
    if (LoadFirmware(probe, strFile, dwAreaFlags) != 0) {
        verdict.bAccepted = false;
        verdict.strCause = DescribeFirmwareProblem(strFile);
    }
    const SignatureCheck& signature = verdict.signature;
    const auto optional = [](const std::string& strText) {
        return strText.empty() ? std::nullopt : std::optional<std::string>(strText);
    };
    if (bJson) {
        std::printf("{\"file\":\"%s\",\"size\":%lld,\"sha256\":%s,\"signature\":\"%s\","
                    "\"prehashed\":%s,\"key_id\":%s,\"version\":%s,\"profile\":%s,"
                    "\"verdict\":\"%s\",\"cause\":%s}\n",
                    JsonEscape(strFile).c_str(), static_cast<long long>(verdict.nSize),
                    JsonStringOrNull(optional(verdict.strSha256)).c_str(),
                    SignatureStatusText(signature.eStatus), signature.bPrehashed ? "true" : "false",
                    JsonStringOrNull(optional(signature.strKeyId)).c_str(),
                    JsonStringOrNull(optional(signature.strVersion)).c_str(),
                    JsonStringOrNull(optional(strProfileUsed)).c_str(),
                    verdict.bAccepted ? "accepted" : "refused",
                    JsonStringOrNull(optional(verdict.strCause)).c_str());
    } else {
        std::string strStatus = SignatureStatusText(signature.eStatus);
        if (!signature.strKeyId.empty()) {
            strStatus += signature.bPrehashed ? " (prehashed)" : " (legacy)";
        }
        if (!signature.strDetail.empty()) {
            strStatus += ": " + signature.strDetail;
        }
        std::printf("file       %s\n", strFile.c_str());
        std::printf("size       %lld bytes\n", static_cast<long long>(verdict.nSize));
        std::printf("sha256     %s\n", verdict.strSha256.empty() ? "-" : verdict.strSha256.c_str());
        std::printf("signature  %s\n", strStatus.c_str());
        std::printf("key id     %s\n",
                    signature.strKeyId.empty() ? "-" : signature.strKeyId.c_str());
        std::printf("version    %s\n",
                    signature.strVersion.empty() ? "-" : signature.strVersion.c_str());
        std::printf("profile    %s\n", strProfileUsed.empty() ? "none" : strProfileUsed.c_str());
        std::printf("verdict    %s\n", verdict.bAccepted ? "accepted" : "refused");
        if (!verdict.bAccepted) {
            std::printf("cause: %s\n", verdict.strCause.c_str());
        }
    }
    return verdict.bAccepted ? kExitOk : OutcomeExitCode(OutcomeKind::InvalidFirmware);
}

} // namespace fwup::cli
