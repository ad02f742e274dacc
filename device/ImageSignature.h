#pragma once
// Detached image signatures in the minisign format: FW.bin.minisig beside
// FW.bin, checked against the public keys a station trusts. The signed
// ("trusted") comment carries version=V, the image's version.
//
// A signature file is four lines: an untrusted comment; base64 of the algorithm
// ("Ed": Ed25519 of the file, "ED": Ed25519 of its BLAKE2b-512), the 8-byte key
// id and the 64-byte signature; "trusted comment: " and its text; base64 of the
// 64-byte Ed25519 signature of that signature followed by the trusted text.
// A public key is base64 of "Ed", the key id and the 32-byte key.

#include "device/SignatureBackend.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace fwup {

using MinisignKeyId = std::array<uint8_t, 8>;

struct MinisignPublicKey {
    MinisignKeyId keyId{};
    Ed25519PublicKey key{};
};

struct MinisignSignature {
    bool bPrehashed = false; // "ED": the file's BLAKE2b-512 was signed
    MinisignKeyId keyId{};
    Ed25519Signature signature{};
    std::string strTrustedComment; // without "trusted comment: "
    Ed25519Signature globalSignature{};
};

// Standard base64 with padding; false on any other character or a bad length.
bool DecodeBase64(const std::string& strText, std::vector<uint8_t>& bytes);
// A key as minisign prints it: the id read as a little-endian number, 16
// upper-case hex digits ("E2B5A8C3D4F60718").
std::string KeyIdText(const MinisignKeyId& keyId);

// strText: the base64 line of a .pub file, or the whole file (comment lines are
// skipped). False with strError saying what is wrong.
bool ParseMinisignPublicKey(const std::string& strText, MinisignPublicKey& key,
                            std::string& strError);
// The text of a .minisig file. False with strError saying what is wrong.
bool ParseMinisignSignature(const std::string& strText, MinisignSignature& signature,
                            std::string& strError);
// The value of version=V among the trusted comment's blank-separated words; empty when none.
std::string SignedVersion(const std::string& strTrustedComment);

enum class SignatureStatus {
    Unsigned,     // no .minisig beside the file
    Malformed,    // the .minisig cannot be read as a minisign signature
    Unchecked,    // signed, but no key is trusted here to check it with
    UntrustedKey, // signed by a key that is not among the trusted ones
    Mismatch,     // the signature does not fit the file (or its trusted comment)
    NoBackend,    // this build cannot check signatures
    Verified,     // a trusted key signed exactly this file and comment
};

struct SignatureCheck {
    SignatureStatus eStatus = SignatureStatus::Unsigned;
    std::string strKeyId;   // the signing key's id (KeyIdText); empty when unsigned or malformed
    std::string strVersion; // version=V of the trusted comment; only when Verified
    std::string strTrustedComment; // only when Verified
    bool bPrehashed = false;
    std::string strDetail; // Malformed: what is wrong
};

// Checks image (nCount bytes) against the text of its .minisig; an empty
// strSignatureText means none exists.
SignatureCheck CheckMinisign(const uint8_t* pImage, size_t nCount,
                             const std::string& strSignatureText,
                             const std::vector<MinisignPublicKey>& trusted);
// The signature file of an image: strImagePath + ".minisig".
std::string SignaturePathOf(const std::string& strImagePath);
// Reads the image and its .minisig and checks them. A missing .minisig is
// Unsigned; an image that cannot be read is Malformed with the reason.
SignatureCheck CheckImageSignature(const std::string& strImagePath,
                                   const std::vector<MinisignPublicKey>& trusted);
// One word for reports and JSON: "unsigned", "malformed", "unchecked",
// "untrusted key", "mismatch", "unsupported", "verified".
const char* SignatureStatusText(SignatureStatus eStatus);

} // namespace fwup
