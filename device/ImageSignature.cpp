// Minisign signatures: parsing and the check against trusted keys.
#include "device/ImageSignature.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fwup {

namespace {

constexpr const char* kTrustedPrefix = "trusted comment: ";
constexpr const char* kUntrustedPrefix = "untrusted comment:";
// Larger files are no minisign signature (four short lines) and no image of ours.
constexpr size_t kMaxSignatureFile = 16 * 1024;
constexpr size_t kMaxImageFile = 64 * 1024 * 1024;

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

std::vector<std::string> Lines(const std::string& strText) {
    std::vector<std::string> lines;
    std::istringstream in(strText);
    std::string strLine;
    while (std::getline(in, strLine)) {
        if (!strLine.empty() && strLine.back() == '\r') {
            strLine.pop_back();
        }
        lines.push_back(strLine);
    }
    return lines;
}

bool StartsWith(const std::string& strText, const char* pszPrefix) {
    return strText.rfind(pszPrefix, 0) == 0;
}

template <size_t N>
void CopyBytes(const std::vector<uint8_t>& bytes, size_t nFrom, std::array<uint8_t, N>& out) {
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(nFrom),
              bytes.begin() + static_cast<std::ptrdiff_t>(nFrom + N), out.begin());
}

// False when the file is missing or larger than nLimit; strError then says which.
bool ReadWholeFile(const std::string& strPath, size_t nLimit, std::string& strContent,
                   std::string& strError) {
    std::ifstream in(strPath, std::ios::binary);
    if (!in) {
        strError = "cannot open " + strPath;
        return false;
    }
    strContent.clear();
    char buffer[8192];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        strContent.append(buffer, static_cast<size_t>(in.gcount()));
        if (strContent.size() > nLimit) {
            strError = strPath + " is larger than " + std::to_string(nLimit) + " bytes";
            return false;
        }
    }
    return true;
}

} // namespace

bool DecodeBase64(const std::string& strText, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (strText.empty() || strText.size() % 4 != 0) {
        return false;
    }
    uint32_t dwBits = 0;
    int nBits = 0;
    size_t nPadding = 0;
    for (size_t i = 0; i < strText.size(); ++i) {
        const char c = strText[i];
        if (c == '=') {
            // Padding only in the last two places, and nothing but padding after it.
            if (i + 2 < strText.size() ||
                (nPadding == 0 && i + 1 < strText.size() && strText[i + 1] != '=')) {
                return false;
            }
            ++nPadding;
            continue;
        }
        const int nValue = Base64Value(c);
        if (nValue < 0 || nPadding > 0) {
            return false;
        }
        dwBits = (dwBits << 6) | static_cast<uint32_t>(nValue);
        nBits += 6;
        if (nBits >= 8) {
            nBits -= 8;
            bytes.push_back(static_cast<uint8_t>(dwBits >> nBits));
        }
    }
    return nPadding <= 2;
}

std::string KeyIdText(const MinisignKeyId& keyId) {
    std::string strText;
    for (size_t i = keyId.size(); i-- > 0;) {
        char szByte[3];
        std::snprintf(szByte, sizeof szByte, "%02X", keyId[i]);
        strText += szByte;
    }
    return strText;
}

bool ParseMinisignPublicKey(const std::string& strText, MinisignPublicKey& key,
                            std::string& strError) {
    std::string strLine;
    for (const std::string& strCandidate : Lines(strText)) {
        if (!strCandidate.empty() && !StartsWith(strCandidate, kUntrustedPrefix)) {
            strLine = strCandidate;
            break;
        }
    }
    std::vector<uint8_t> bytes;
    if (!DecodeBase64(strLine, bytes) || bytes.size() != 2 + 8 + 32) {
        strError = "not a minisign public key (the base64 line of a .pub file)";
        return false;
    }
    if (bytes[0] != 'E' || bytes[1] != 'd') {
        strError = "not an Ed25519 minisign public key";
        return false;
    }
    CopyBytes(bytes, 2, key.keyId);
    CopyBytes(bytes, 10, key.key);
    return true;
}

bool ParseMinisignSignature(const std::string& strText, MinisignSignature& signature,
                            std::string& strError) {
    const std::vector<std::string> lines = Lines(strText);
    if (lines.size() < 4 || !StartsWith(lines[0], kUntrustedPrefix) ||
        !StartsWith(lines[2], kTrustedPrefix)) {
        strError = "expected four lines: untrusted comment, signature, trusted comment, "
                   "global signature";
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!DecodeBase64(lines[1], bytes) || bytes.size() != 2 + 8 + 64) {
        strError = "the signature line is not base64 of 74 bytes";
        return false;
    }
    if (bytes[0] != 'E' || (bytes[1] != 'd' && bytes[1] != 'D')) {
        strError = "unknown signature algorithm";
        return false;
    }
    signature.bPrehashed = bytes[1] == 'D';
    CopyBytes(bytes, 2, signature.keyId);
    CopyBytes(bytes, 10, signature.signature);
    signature.strTrustedComment = lines[2].substr(std::char_traits<char>::length(kTrustedPrefix));
    if (!DecodeBase64(lines[3], bytes) || bytes.size() != 64) {
        strError = "the global signature line is not base64 of 64 bytes";
        return false;
    }
    CopyBytes(bytes, 0, signature.globalSignature);
    return true;
}

std::string SignedVersion(const std::string& strTrustedComment) {
    std::istringstream words(strTrustedComment);
    std::string strWord;
    while (words >> strWord) {
        if (StartsWith(strWord, "version=")) {
            return strWord.substr(8);
        }
    }
    return {};
}

SignatureCheck CheckMinisign(const uint8_t* pImage, size_t nCount,
                             const std::string& strSignatureText,
                             const std::vector<MinisignPublicKey>& trusted) {
    SignatureCheck check;
    if (strSignatureText.empty()) {
        return check; // Unsigned
    }
    MinisignSignature signature;
    if (!ParseMinisignSignature(strSignatureText, signature, check.strDetail)) {
        check.eStatus = SignatureStatus::Malformed;
        return check;
    }
    check.strKeyId = KeyIdText(signature.keyId);
    check.bPrehashed = signature.bPrehashed;
    if (trusted.empty()) {
        check.eStatus = SignatureStatus::Unchecked;
        return check;
    }
    const MinisignPublicKey* pKey = nullptr;
    for (const MinisignPublicKey& key : trusted) {
        if (key.keyId == signature.keyId) {
            pKey = &key;
        }
    }
    if (pKey == nullptr) {
        check.eStatus = SignatureStatus::UntrustedKey;
        return check;
    }
    if (!SignatureBackendAvailable()) {
        check.eStatus = SignatureStatus::NoBackend;
        return check;
    }
    bool bFileOk = false;
    if (signature.bPrehashed) {
        const Blake2b512Digest digest = Blake2b512(pImage, nCount);
        bFileOk = VerifyEd25519(signature.signature, digest.data(), digest.size(), pKey->key);
    } else {
        bFileOk = VerifyEd25519(signature.signature, pImage, nCount, pKey->key);
    }
    // The global signature binds the trusted comment (and so the version) to the signature.
    std::vector<uint8_t> global(signature.signature.begin(), signature.signature.end());
    global.insert(global.end(), signature.strTrustedComment.begin(),
                  signature.strTrustedComment.end());
    const bool bCommentOk =
        VerifyEd25519(signature.globalSignature, global.data(), global.size(), pKey->key);
    if (!bFileOk || !bCommentOk) {
        check.eStatus = SignatureStatus::Mismatch;
        check.strDetail = bFileOk ? "the trusted comment was altered" : "";
        return check;
    }
    check.eStatus = SignatureStatus::Verified;
    check.strTrustedComment = signature.strTrustedComment;
    check.strVersion = SignedVersion(signature.strTrustedComment);
    return check;
}

std::string SignaturePathOf(const std::string& strImagePath) {
    return strImagePath + ".minisig";
}

SignatureCheck CheckImageSignature(const std::string& strImagePath,
                                   const std::vector<MinisignPublicKey>& trusted) {
    std::string strImage;
    std::string strError;
    if (!ReadWholeFile(strImagePath, kMaxImageFile, strImage, strError)) {
        SignatureCheck check;
        check.eStatus = SignatureStatus::Malformed;
        check.strDetail = strError;
        return check;
    }
    std::string strSignature;
    const std::string strSignaturePath = SignaturePathOf(strImagePath);
    std::ifstream probe(strSignaturePath, std::ios::binary);
    if (probe) {
        probe.close();
        if (!ReadWholeFile(strSignaturePath, kMaxSignatureFile, strSignature, strError)) {
            SignatureCheck check;
            check.eStatus = SignatureStatus::Malformed;
            check.strDetail = strError;
            return check;
        }
        if (strSignature.empty()) {
            SignatureCheck check;
            check.eStatus = SignatureStatus::Malformed;
            check.strDetail = strSignaturePath + " is empty";
            return check;
        }
    }
    return CheckMinisign(reinterpret_cast<const uint8_t*>(strImage.data()), strImage.size(),
                         strSignature, trusted);
}

const char* SignatureStatusText(SignatureStatus eStatus) {
    switch (eStatus) {
    case SignatureStatus::Unsigned:
        return "unsigned";
    case SignatureStatus::Malformed:
        return "malformed";
    case SignatureStatus::Unchecked:
        return "unchecked";
    case SignatureStatus::UntrustedKey:
        return "untrusted key";
    case SignatureStatus::Mismatch:
        return "mismatch";
    case SignatureStatus::NoBackend:
        return "unsupported";
    case SignatureStatus::Verified:
        return "verified";
    }
    return "unknown";
}

} // namespace fwup
