// The image verdict, minisign signatures (ours and the minisign tool's), and the
// station profile's parsing and lock.
#include "CTestSigner.h"

#include "station/ImageVerdict.h"
#include "station/StationProfile.h"
#include "tests/support/CTempRoot.h"

#include <gtest/gtest.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using fwtest::CTestSigner;
using namespace fwup;

bool Contains(const std::string& strText, const std::string& strPart) {
    return strText.find(strPart) != std::string::npos;
}

std::string Sha256Of(const std::vector<uint8_t>& bytes) {
    std::array<uint8_t, crypto_hash_sha256_BYTES> digest{};
    crypto_hash_sha256(digest.data(), bytes.data(), bytes.size());
    std::string strHex(digest.size() * 2 + 1, '\0');
    sodium_bin2hex(strHex.data(), strHex.size(), digest.data(), digest.size());
    strHex.pop_back();
    return strHex;
}

MinisignPublicKey KeyOf(const CTestSigner& signer) {
    MinisignPublicKey key;
    std::string strError;
    EXPECT_TRUE(ParseMinisignPublicKey(signer.PublicKeyLine(), key, strError)) << strError;
    return key;
}

enum class Signer { None, Trusted, Other };
enum class AllowList { None, Listed, NotListed };

struct VerdictCase {
    const char* pszName;
    Signer eSigner;
    bool bPrehashed;
    bool bTamper; // one byte of the image changed after signing
    bool bKeys;   // the profile trusts the trusted signer's key
    bool bRequire;
    AllowList eAllow;
    bool bAccepted;
    const char* pszCause; // part of the cause; "" when accepted
    Signer eNamedKey;     // whose key id the cause or the check names
};

TEST(ImageVerdict, TheRulesOfTheProfile) {
    const CTestSigner trusted;
    const CTestSigner other;
    const VerdictCase cases[] = {
        {"no profile, unsigned", Signer::None, true, false, false, false, AllowList::None, true, "",
         Signer::None},
        {"unsigned", Signer::None, true, false, true, true, AllowList::None, false,
         "unsigned: fw.bin.minisig is missing", Signer::None},
        {"unsigned, signature not required", Signer::None, true, false, true, false,
         AllowList::None, true, "", Signer::None},
        {"tampered by one byte", Signer::Trusted, true, true, true, true, AllowList::None, false,
         "does not match the file", Signer::Trusted},
        {"untrusted key", Signer::Other, true, false, true, true, AllowList::None, false,
         "which the station profile does not trust", Signer::Other},
        {"trusted, legacy", Signer::Trusted, false, false, true, true, AllowList::None, true, "",
         Signer::Trusted},
        {"trusted, prehashed", Signer::Trusted, true, false, true, true, AllowList::None, true, "",
         Signer::Trusted},
        {"allow-listed", Signer::None, true, false, false, false, AllowList::Listed, true, "",
         Signer::None},
        {"not allow-listed", Signer::None, true, false, false, false, AllowList::NotListed, false,
         "is not on the station profile's allowed_sha256 list", Signer::None},
        {"signed but not allow-listed", Signer::Trusted, true, false, true, true,
         AllowList::NotListed, false, "allowed_sha256", Signer::Trusted},
    };
    for (const VerdictCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        fwtest::CTempRoot root(false);
        const std::string strImage = root.WriteFile("fw.bin", 5000);
        const CTestSigner* pSigner = c.eSigner == Signer::Trusted ? &trusted
                                     : c.eSigner == Signer::Other ? &other
                                                                  : nullptr;
        if (pSigner != nullptr) {
            pSigner->SignFile(strImage, "timestamp:1765000000 version=2.1.0.0", c.bPrehashed);
        }
        if (c.bTamper) {
            std::fstream file(strImage, std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(1234);
            file.put('\x5a' ^ static_cast<char>(fwtest::ReadBytes(strImage)[1234]));
        }
        StationProfile profile;
        if (c.bKeys) {
            profile.trustedKeys = {KeyOf(trusted)};
        }
        profile.bRequireSignature = c.bRequire;
        if (c.eAllow != AllowList::None) {
            profile.allowedSha256 = {std::string(64, '0')};
        }
        if (c.eAllow == AllowList::Listed) {
            profile.allowedSha256.push_back(Sha256Of(fwtest::ReadBytes(strImage)));
        }
        const ImageVerdict verdict = JudgeImage(strImage, profile);
        EXPECT_EQ(verdict.bAccepted, c.bAccepted) << verdict.strCause;
        EXPECT_TRUE(Contains(verdict.strCause, c.pszCause)) << verdict.strCause;
        EXPECT_EQ(verdict.nSize, 5000);
        EXPECT_EQ(verdict.strSha256, Sha256Of(fwtest::ReadBytes(strImage)));
        const std::string strNamed = c.eNamedKey == Signer::Trusted ? trusted.KeyIdText()
                                     : c.eNamedKey == Signer::Other ? other.KeyIdText()
                                                                    : "";
        EXPECT_EQ(verdict.signature.strKeyId, strNamed);
        if (!c.bAccepted && !strNamed.empty() && c.eAllow != AllowList::NotListed) {
            EXPECT_TRUE(Contains(verdict.strCause, strNamed)) << verdict.strCause;
        }
        const bool bVerified = c.eSigner == Signer::Trusted && !c.bTamper;
        EXPECT_EQ(verdict.signature.strVersion, bVerified ? "2.1.0.0" : "");
    }
}

// The standard tool's keys and signatures, both variants, pass; its key id is ours.
TEST(ImageVerdict, SignaturesOfTheMinisignTool) {
    if (std::system("command -v minisign >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "minisign is not installed (scripts/deps.sh installs it)";
    }
    fwtest::CTempRoot root(false);
    const std::string strDir = root.Path();
    const std::string strMake =
        "cd '" + strDir + "' && minisign -G -W -p k.pub -s k.key >/dev/null 2>&1";
    ASSERT_EQ(std::system(strMake.c_str()), 0);
    std::ifstream pub(strDir + "/k.pub");
    std::string strComment;
    std::string strLine;
    std::getline(pub, strComment);
    std::getline(pub, strLine);
    StationProfile profile;
    profile.trustedKeys = {MinisignPublicKey{}};
    std::string strError;
    ASSERT_TRUE(ParseMinisignPublicKey(strLine, profile.trustedKeys[0], strError)) << strError;
    profile.bRequireSignature = true;
    for (const char* pszLegacy : {"", "-l"}) {
        SCOPED_TRACE(*pszLegacy ? "legacy" : "prehashed");
        const std::string strImage = root.WriteFile(*pszLegacy ? "l.bin" : "p.bin", 7000);
        ASSERT_EQ(std::system(("minisign -S " + std::string(pszLegacy) + " -s '" + strDir +
                               "/k.key' -m '" + strImage +
                               "' -t 'version=2.1.0.0 built=ci' >/dev/null 2>&1")
                                  .c_str()),
                  0);
        const ImageVerdict verdict = JudgeImage(strImage, profile);
        EXPECT_TRUE(verdict.bAccepted) << verdict.strCause;
        EXPECT_EQ(verdict.signature.strVersion, "2.1.0.0");
        EXPECT_EQ(verdict.signature.bPrehashed, *pszLegacy == '\0');
        // "untrusted comment: minisign public key <ID>": the tool prints the id without leading
        // zeros, we print all sixteen digits, so compare the numbers.
        const std::string strToolId = strComment.substr(strComment.rfind(' ') + 1);
        ASSERT_EQ(verdict.signature.strKeyId.size(), 16u) << verdict.signature.strKeyId;
        EXPECT_EQ(std::stoull(strToolId, nullptr, 16),
                  std::stoull(verdict.signature.strKeyId, nullptr, 16))
            << strToolId << " vs " << verdict.signature.strKeyId;
    }
}

std::string WriteText(const fwtest::CTempRoot& root, const std::string& strName,
                      const std::string& strText) {
    const std::string strPath = root.Path() + "/" + strName;
    std::ofstream(strPath, std::ios::binary) << strText;
    return strPath;
}

TEST(StationProfile, MalformedProfilesNameFileAndLine) {
    fwtest::CTempRoot root(false);
    const CTestSigner signer;
    const std::string strKey = "trusted_keys = [\"" + signer.PublicKeyLine() + "\"]\n";
    const struct {
        std::string strText;
        std::string strError; // after "FILE:"
    } cases[] = {
        {"station = \"B1\"\nimage_path = \"fw.bin\"\n", "2: unknown key 'image_path'"},
        {"retries = \"3\"\n", "1: 'retries' must be a whole number from 0 to 100"},
        {"station = \"B1\"\n\nretries = 101\n",
         "3: 'retries' must be a whole number from 0 to 100"},
        {"locked = \"yes\"\n", "1: 'locked' must be true or false"},
        {"station = \"\"\n", "1: 'station' must be a text that is not empty"},
        {"trusted_keys = [\n  \"RWQ\",\n]\n", "2: trusted_keys: not a minisign public key"},
        {"allowed_sha256 = [\"abc\"]\n", "1: allowed_sha256: 'abc' is not a SHA-256"},
        {"require_signature = true\n", "1: require_signature needs at least one key"},
        {strKey + "station = \n", "2: "},
        {"[image]\npath = \"x\"\n", "1: 'image' must be a text that is not empty"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.strText);
        const std::string strPath = WriteText(root, "station.toml", c.strText);
        StationProfile profile;
        std::string strError;
        EXPECT_FALSE(LoadStationProfile(strPath, profile, strError));
        EXPECT_EQ(strError.rfind(strPath + ":" + c.strError, 0), 0u) << strError;
    }
    // Every key at once, relative paths from the profile's folder.
    const std::string strPath = WriteText(
        root, "good.toml",
        "station = \"Bench 1\"\nrecord = \"units.db\"\nslots = \"slots.txt\"\nretries = 2\n"
        "image = \"fw.bin\"\nexpect_version = \"2.1.0.0\"\n" +
            strKey + "require_signature = true\nallowed_sha256 = [\"" + std::string(64, 'A') +
            "\"]\nlocked = true\n");
    StationProfile profile;
    std::string strError;
    ASSERT_TRUE(LoadStationProfile(strPath, profile, strError)) << strError;
    EXPECT_EQ(profile.optStation, "Bench 1");
    EXPECT_EQ(profile.optRecord, root.Path() + "/units.db");
    EXPECT_EQ(profile.optSlots, root.Path() + "/slots.txt");
    EXPECT_EQ(profile.optImage, root.Path() + "/fw.bin");
    EXPECT_EQ(profile.optRetries, 2);
    EXPECT_EQ(profile.optExpectVersion, "2.1.0.0");
    ASSERT_EQ(profile.trustedKeys.size(), 1u);
    EXPECT_EQ(KeyIdText(profile.trustedKeys[0].keyId), signer.KeyIdText());
    EXPECT_TRUE(profile.bRequireSignature);
    EXPECT_EQ(profile.allowedSha256, std::vector<std::string>{std::string(64, 'a')});
    EXPECT_TRUE(profile.bLocked);
}

TEST(StationProfile, ALockRefusesContradictionsAndAProfileItsUserMayWrite) {
    fwtest::CTempRoot root(false);
    const std::string strPath =
        WriteText(root, "station.toml", "image = \"fw.bin\"\nstation = \"B1\"\nlocked = true\n");
    StationProfile profile;
    std::string strError;
    ASSERT_TRUE(LoadStationProfile(strPath, profile, strError)) << strError;
    const bool bRoot = ::geteuid() == 0;
    ::chmod(strPath.c_str(), 0644);
    StationSettings same;
    same.optImage = root.Path() + "/./fw.bin";
    same.optRetries = 3; // the profile says nothing about retries
    EXPECT_EQ(MergeStationProfile(profile, same, strError), bRoot) << strError;
    if (bRoot) {
        EXPECT_EQ(same.optStation, "B1");
        EXPECT_EQ(same.optRetries, 3);
        StationSettings other;
        other.optImage = root.Path() + "/other.bin";
        EXPECT_FALSE(MergeStationProfile(profile, other, strError));
        EXPECT_EQ(strError, "locked by the station profile " + strPath + ": --file " + root.Path() +
                                "/other.bin contradicts its " + root.Path() + "/fw.bin");
        // Unlocked, the command line wins.
        profile.bLocked = false;
        EXPECT_TRUE(MergeStationProfile(profile, other, strError));
        EXPECT_EQ(other.optImage, root.Path() + "/other.bin");
        profile.bLocked = true;
    } else {
        EXPECT_TRUE(Contains(strError, "not root; as root: chown root:root")) << strError;
    }
    ::chmod(strPath.c_str(), 0664);
    StationSettings none;
    EXPECT_FALSE(MergeStationProfile(profile, none, strError));
    EXPECT_TRUE(Contains(strError, "is locked but this user may change it")) << strError;
    EXPECT_TRUE(Contains(strError, bRoot ? "chmod go-w " + strPath : "chown root:root"))
        << strError;
}

TEST(StationProfile, TheDefaultPlaceIsBelowTheSystemRoot) {
    fwtest::CTempRoot root(true);
    EXPECT_EQ(DefaultProfilePath(), root.Path() + "/etc/fwupgrader/station.toml");
}

} // namespace
