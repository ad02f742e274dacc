// fwupgrader-cli under a station profile against a simulated reader: refused
// images never reach it, a signed one flashes and its record says who signed it.
#include "CliRig.h"
#include "tests/station/CTestSigner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace {

using fwsim::Personality;
using fwtest::CCliRig;
using fwtest::CTestSigner;

bool Contains(const std::string& strText, const std::string& strPart) {
    return strText.find(strPart) != std::string::npos;
}

void WriteProfile(const std::string& strPath, const std::string& strText, mode_t nMode = 0644) {
    std::filesystem::create_directories(std::filesystem::path(strPath).parent_path());
    std::ofstream(strPath) << strText;
    ::chmod(strPath.c_str(), nMode);
}

TEST(CliProfile, RefusedImagesNeverReachTheReaderAndASignedOneFlashes) {
    CCliRig rig;
    fwsim::CSimDevice& device = rig.AddDevice(rig.Config(Personality::Application));
    const CTestSigner trusted;
    const CTestSigner other;
    // The station's own place, below the rig's root (no --profile).
    WriteProfile(rig.Root() + "/etc/fwupgrader/station.toml",
                 "trusted_keys = [\"" + trusted.PublicKeyLine() +
                     "\"]\nrequire_signature = true\n");
    const struct {
        const char* pszName;
        const CTestSigner* pSigner;
        bool bTamper;
        std::string strCause;
    } cases[] = {
        {"unsigned", nullptr, false, "cause: unsigned: fw.bin.minisig is missing"},
        {"one byte changed", &trusted, true,
         "cause: the signature by key " + trusted.KeyIdText() + " does not match the file"},
        {"another key", &other, false,
         "cause: signed by key " + other.KeyIdText() +
             ", which the station profile does not trust"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        const std::string strImage = rig.WriteImage("fw.bin", 3000, 7);
        std::filesystem::remove(strImage + ".minisig");
        if (c.pSigner != nullptr) {
            c.pSigner->SignFile(strImage, "version=2.1.0.0");
        }
        if (c.bTamper) {
            const char chFirst = static_cast<char>(rig.ReadFile(strImage)[0] ^ 0x01);
            std::fstream(strImage, std::ios::in | std::ios::out | std::ios::binary).put(chFirst);
        }
        std::string strOut;
        EXPECT_EQ(rig.RunCli({"update", "--port", "COM1", "--file", strImage}, 20000, strOut), 12)
            << strOut;
        EXPECT_TRUE(Contains(strOut, "invalid firmware file\n" + c.strCause)) << strOut;
        // The reader was never asked to switch ("~dboot") and got nothing.
        EXPECT_EQ(device.CurrentPersonality(), Personality::Application);
        EXPECT_EQ(device.DownloadsFinished(), 0);
        std::string strCheck;
        EXPECT_EQ(rig.RunCli({"image", "check", strImage}, 20000, strCheck), 12) << strCheck;
        EXPECT_TRUE(Contains(strCheck, c.strCause)) << strCheck;
    }

    // Signed by the trusted key, through --profile: flashed, and the record says so.
    const std::string strImage = rig.WriteImage("good.bin", 3000, 8);
    trusted.SignFile(strImage, "timestamp:1765000000 version=2.1.0.0", false);
    const std::string strProfile = rig.Root() + "/bench.toml";
    WriteProfile(strProfile, "record = \"units.jsonl\"\nimage = \"good.bin\"\ntrusted_keys = [\"" +
                                 trusted.PublicKeyLine() + "\"]\nrequire_signature = true\n");
    std::string strOut;
    EXPECT_EQ(rig.RunCli({"update", "--port", "COM1", "--profile", strProfile}, 60000, strOut), 0)
        << strOut;
    EXPECT_EQ(device.FlashAt(fwsim::kCodeAddress, 3000), rig.ReadFile(strImage));
    std::ifstream records(rig.Root() + "/units.jsonl");
    std::string strRecord;
    std::getline(records, strRecord);
    EXPECT_TRUE(Contains(strRecord, "\"image_version\":\"2.1.0.0\",\"image_signer\":\"" +
                                        trusted.KeyIdText() + "\""))
        << strRecord;
    std::string strCheck;
    EXPECT_EQ(rig.RunCli({"image", "check", "--profile", strProfile, "--json"}, 20000, strCheck),
              0);
    EXPECT_TRUE(Contains(strCheck, "\"signature\":\"verified\",\"prehashed\":false,\"key_id\":\"" +
                                       trusted.KeyIdText() + "\",\"version\":\"2.1.0.0\""))
        << strCheck;
}

TEST(CliProfile, ALockedProfileRefusesOptionsAndItsOwnWeakness) {
    CCliRig rig;
    const std::string strImage = rig.WriteImage("fw.bin", 3000);
    const std::string strProfile = rig.Root() + "/station.toml";
    WriteProfile(strProfile, "image = \"fw.bin\"\nlocked = true\n", 0666);
    std::string strOut;
    EXPECT_EQ(rig.RunCli({"update", "--port", "COM1", "--profile", strProfile}, 20000, strOut), 2);
    EXPECT_TRUE(Contains(strOut, "is locked but this user may change it, so it locks nothing"))
        << strOut;
    if (::geteuid() == 0) {
        ::chmod(strProfile.c_str(), 0644);
        EXPECT_EQ(rig.RunCli({"update", "--port", "COM1", "--profile", strProfile, "--file",
                              rig.WriteImage("other.bin", 3000)},
                             20000, strOut),
                  2);
        EXPECT_TRUE(Contains(strOut, "locked by the station profile " + strProfile + ": --file "))
            << strOut;
    }
    WriteProfile(strProfile, "station = \"B1\"\nretries = -1\n");
    EXPECT_EQ(rig.RunCli({"update", "--port", "COM1", "--profile", strProfile, "--file", strImage},
                         20000, strOut),
              2);
    EXPECT_TRUE(Contains(strOut, strProfile + ":2: 'retries' must be a whole number")) << strOut;
}

} // namespace
