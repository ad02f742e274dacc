#include "CTestSigner.h"

#include <sodium.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fwtest {

namespace {

std::string Base64(const std::vector<uint8_t>& bytes) {
    std::string strText(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL),
                        '\0');
    sodium_bin2base64(strText.data(), strText.size(), bytes.data(), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    strText.resize(strText.find('\0'));
    return strText;
}

} // namespace

CTestSigner::CTestSigner() {
    if (sodium_init() < 0) {
        throw std::runtime_error("libsodium cannot start");
    }
    crypto_sign_keypair(m_publicKey.data(), m_secretKey.data());
    randombytes_buf(m_keyId.data(), m_keyId.size());
}

std::string CTestSigner::PublicKeyLine() const {
    std::vector<uint8_t> bytes = {'E', 'd'};
    bytes.insert(bytes.end(), m_keyId.begin(), m_keyId.end());
    bytes.insert(bytes.end(), m_publicKey.begin(), m_publicKey.end());
    return Base64(bytes);
}

std::string CTestSigner::KeyIdText() const {
    static const char* const kHex = "0123456789ABCDEF";
    std::string strText;
    for (int i = 7; i >= 0; --i) {
        strText += kHex[m_keyId[static_cast<size_t>(i)] >> 4];
        strText += kHex[m_keyId[static_cast<size_t>(i)] & 15];
    }
    return strText;
}

std::string CTestSigner::Sign(const std::vector<uint8_t>& bytes,
                              const std::string& strTrustedComment, bool bPrehashed) const {
    std::vector<uint8_t> message = bytes;
    if (bPrehashed) {
        message.assign(crypto_generichash_BYTES_MAX, 0);
        crypto_generichash(message.data(), message.size(), bytes.data(), bytes.size(), nullptr, 0);
    }
    std::array<uint8_t, 64> signature{};
    crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(),
                         m_secretKey.data());
    std::vector<uint8_t> line = {'E', static_cast<uint8_t>(bPrehashed ? 'D' : 'd')};
    line.insert(line.end(), m_keyId.begin(), m_keyId.end());
    line.insert(line.end(), signature.begin(), signature.end());
    std::vector<uint8_t> global(signature.begin(), signature.end());
    global.insert(global.end(), strTrustedComment.begin(), strTrustedComment.end());
    std::array<uint8_t, 64> globalSignature{};
    crypto_sign_detached(globalSignature.data(), nullptr, global.data(), global.size(),
                         m_secretKey.data());
    return "untrusted comment: signature from a test key\n" + Base64(line) +
           "\ntrusted comment: " + strTrustedComment + "\n" +
           Base64({globalSignature.begin(), globalSignature.end()}) + "\n";
}

void CTestSigner::SignFile(const std::string& strPath, const std::string& strTrustedComment,
                           bool bPrehashed) const {
    std::ofstream(strPath + ".minisig", std::ios::binary)
        << Sign(ReadBytes(strPath), strTrustedComment, bPrehashed);
}

std::vector<uint8_t> ReadBytes(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace fwtest
