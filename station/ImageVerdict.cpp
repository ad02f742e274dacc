// The image rules of a station profile.
#include "station/ImageVerdict.h"

#include "device/Sha256.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fwup {

namespace {

// The refusal for a signature status; empty when that status passes.
std::string SignatureCause(const SignatureCheck& check, const StationProfile& profile,
                           const std::string& strImagePath) {
    const std::string strSigName =
        std::filesystem::path(SignaturePathOf(strImagePath)).filename().string();
    switch (check.eStatus) {
    case SignatureStatus::Unsigned:
        return profile.bRequireSignature ? "unsigned: " + strSigName +
                                               " is missing and the station profile requires a "
                                               "signature by a trusted key"
                                         : "";
    case SignatureStatus::Malformed:
        return "malformed signature " + strSigName + ": " + check.strDetail;
    case SignatureStatus::UntrustedKey:
        return "signed by key " + check.strKeyId + ", which the station profile does not trust";
    case SignatureStatus::Mismatch:
        return "the signature by key " + check.strKeyId + " does not match the file" +
               (check.strDetail.empty() ? " (changed after signing?)" : ": " + check.strDetail);
    case SignatureStatus::NoBackend:
        return profile.bRequireSignature
                   ? "this build cannot check signatures (built without libsodium); key " +
                         check.strKeyId
                   : "";
    case SignatureStatus::Unchecked:
    case SignatureStatus::Verified:
        return "";
    }
    return "";
}

} // namespace

ImageVerdict JudgeImage(const std::string& strImagePath, const StationProfile& profile) {
    ImageVerdict verdict;
    std::ifstream in(strImagePath, std::ios::binary);
    if (!in) {
        verdict.strCause = "cannot read " + strImagePath;
        return verdict;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    verdict.nSize = static_cast<int64_t>(bytes.size());
    verdict.strSha256 = Sha256Hex(bytes.data(), bytes.size());
    verdict.signature = CheckImageSignature(strImagePath, profile.trustedKeys);
    // Without trusted keys a signature cannot be judged: it neither helps nor hurts.
    if (!profile.trustedKeys.empty()) {
        verdict.strCause = SignatureCause(verdict.signature, profile, strImagePath);
    }
    if (verdict.strCause.empty() && profile.optExpectVersion &&
        verdict.signature.eStatus == SignatureStatus::Verified &&
        verdict.signature.strVersion != *profile.optExpectVersion) {
        verdict.strCause = "signed version '" + verdict.signature.strVersion + "' (key " +
                           verdict.signature.strKeyId + "), the station profile expects '" +
                           *profile.optExpectVersion + "'";
    }
    if (verdict.strCause.empty() && !profile.allowedSha256.empty() &&
        std::find(profile.allowedSha256.begin(), profile.allowedSha256.end(), verdict.strSha256) ==
            profile.allowedSha256.end()) {
        verdict.strCause =
            "SHA-256 " + verdict.strSha256 + " is not on the station profile's allowed_sha256 list";
    }
    verdict.bAccepted = verdict.strCause.empty();
    return verdict;
}

std::optional<std::string> SignedVersionOf(const SignatureCheck& check) {
    if (check.eStatus != SignatureStatus::Verified || check.strVersion.empty()) {
        return std::nullopt;
    }
    return check.strVersion;
}

std::optional<std::string> SignerOf(const SignatureCheck& check) {
    if (check.eStatus != SignatureStatus::Verified) {
        return std::nullopt;
    }
    return check.strKeyId;
}

} // namespace fwup
