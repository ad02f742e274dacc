#pragma once
// The verdict on an image under a station profile, asked before any job and
// before any port is touched.
//
// No keys and no allow-list: any image (the size rules are the firmware file's).
// Trusted keys: a signature that is malformed, by an untrusted key or does not
// fit the file refuses it; an unsigned image is refused when require_signature
// is set. A verified version other than expect_version refuses it. An
// allow-list refuses every image whose SHA-256 is not on it.

#include "device/ImageSignature.h"
#include "station/StationProfile.h"

#include <cstdint>
#include <optional>
#include <string>

namespace fwup {

struct ImageVerdict {
    bool bAccepted = false;
    std::string strCause; // when refused: one line naming the reason (and the key id)
    int64_t nSize = -1;   // bytes; -1 when the file cannot be read
    std::string strSha256;
    SignatureCheck signature;
};

ImageVerdict JudgeImage(const std::string& strImagePath, const StationProfile& profile);

// What a unit's record names for the image: its signed version and its signer's
// key id; none when the signature was not verified (or names no version).
std::optional<std::string> SignedVersionOf(const SignatureCheck& check);
std::optional<std::string> SignerOf(const SignatureCheck& check);

} // namespace fwup
