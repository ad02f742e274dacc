#pragma once
// A minisign key made for one test (libsodium), and the .pub and .minisig texts
// the minisign tool would write with it. The secret key lives in memory only.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace fwtest {

class CTestSigner {
public:
    CTestSigner(); // a fresh key pair and a random key id

    // The base64 line of the key's .pub file.
    std::string PublicKeyLine() const;
    // The key id as minisign prints it (written here from the bytes, not by the code under test).
    std::string KeyIdText() const;
    // A whole .minisig text over bytes with strTrustedComment; bPrehashed: "ED", else "Ed".
    std::string Sign(const std::vector<uint8_t>& bytes, const std::string& strTrustedComment,
                     bool bPrehashed) const;
    // Signs the file at strPath into strPath.minisig.
    void SignFile(const std::string& strPath, const std::string& strTrustedComment,
                  bool bPrehashed = true) const;

private:
    std::array<uint8_t, 8> m_keyId{};
    std::array<uint8_t, 32> m_publicKey{};
    std::array<uint8_t, 64> m_secretKey{};
};

std::vector<uint8_t> ReadBytes(const std::string& strPath);

} // namespace fwtest
