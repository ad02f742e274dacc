// fwupgrader-cli update against simulated devices.
#include "CliRig.h"
#include "serial/PortAccess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using fwsim::Personality;
using fwtest::CCliRig;
using fwtest::SplitLines;

constexpr size_t kFullImage = 176128;

bool Contains(const std::string& strText, const std::string& strPart) {
    return strText.find(strPart) != std::string::npos;
}

TEST(CliUpdate, FlashesTheImageAndLogsWhatTheWindowWould) {
    CCliRig rig;
    fwsim::CSimDevice& device = rig.AddDevice(rig.Config(Personality::Application));
    const std::string strImage = rig.WriteImage("fw.bin", kFullImage);
    std::string strOut;
    const int nExit = rig.RunCli({"update", "--port", "COM1", "--file", strImage}, 60000, strOut);
    EXPECT_EQ(nExit, 0) << strOut;
    EXPECT_TRUE(Contains(strOut, "updating device[SN1001] ...\n")) << strOut;
    EXPECT_TRUE(Contains(strOut, "file name : fw.bin\n"));
    EXPECT_TRUE(Contains(strOut, "file size : 176128\n"));
    EXPECT_TRUE(Contains(strOut, "progress 100%\n"));
    EXPECT_TRUE(Contains(strOut, "FW Update Successful!\nPlease disconnect the USB cable and turn "
                                 "your Tarnic's power off & on before use.\n"));
    EXPECT_EQ(device.FlashAt(fwsim::kCodeAddress, kFullImage), rig.ReadFile(strImage));
}

TEST(CliUpdate, JsonGivesOneObjectPerReportInStageOrder) {
    CCliRig rig;
    rig.AddDevice(rig.Config(Personality::BootLoader));
    const std::string strImage = rig.WriteImage("fw.bin", 3000);
    std::string strOut;
    // The port by its listed name, as 'list' prints it.
    const int nExit = rig.RunCli(
        {"update", "--port", "AT91 USB to Serial Converter (COM1)", "--json", "--file", strImage},
        60000, strOut);
    EXPECT_EQ(nExit, 0) << strOut;
    std::vector<int> stages;
    int nLastProgress = -1;
    for (const std::string& strLine : SplitLines(strOut)) {
        ASSERT_EQ(strLine.rfind("{\"stage\":", 0), 0u) << strLine;
        ASSERT_EQ(strLine.back(), '}') << strLine;
        stages.push_back(std::stoi(strLine.substr(9)));
        const size_t nProgress = strLine.find("\"progress\":");
        if (nProgress != std::string::npos) {
            const int nPercent = std::stoi(strLine.substr(nProgress + 11));
            EXPECT_GE(nPercent, nLastProgress);
            nLastProgress = nPercent;
        }
    }
    ASSERT_GE(stages.size(), 4u);
    EXPECT_EQ(stages.front(), 0);
    EXPECT_EQ(stages[1], 4);
    EXPECT_EQ(stages.back(), 1);
    for (size_t i = 2; i + 1 < stages.size(); ++i) {
        EXPECT_EQ(stages[i], 5);
    }
    EXPECT_EQ(nLastProgress, 100);
    EXPECT_TRUE(Contains(strOut, "\"serial\":\"unknown\"")) << "a boot loader tells no serial";
}

TEST(CliUpdate, UnknownPortNameIsAUsageError) {
    CCliRig rig;
    std::string strOut;
    EXPECT_EQ(rig.RunCli({"update", "--port", "no such port", "--file", "x.bin"}, 10000, strOut),
              2);
    EXPECT_TRUE(Contains(strOut, "names no port")) << strOut;
}

// A program that opened the port before us would read the reader's replies: the
// open fails as busy and names it (the simulator, the pty's other end, does not count).
TEST(CliUpdate, PortOpenedEarlierByAnotherProgramIsBusy) {
    CCliRig rig;
    fwsim::CSimDevice& device = rig.AddDevice(rig.Config(Personality::Application));
    const std::string strImage = rig.WriteImage("fw.bin", 3000);
    fwtest::CChildProcess holder("/bin/sh",
                                 {"-c", "exec 3<>\"$0\"; exec sleep 30", device.DevicePath()});
    const auto sleeperHolds = [&] {
        for (const fwup::PortHolder& h : fwup::FindPortHolders(device.DevicePath())) {
            if (h.strCommand == "sleep") {
                return true;
            }
        }
        return false;
    };
    for (int i = 0; i < 500 && !sleeperHolds(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(sleeperHolds());
    std::string strOut;
    EXPECT_EQ(rig.RunCli({"update", "--port", "COM1", "--file", strImage}, 30000, strOut), 10)
        << strOut;
    EXPECT_TRUE(Contains(strOut, "check connection\ncause: port " + device.DevicePath() +
                                     " is held by another program: pid "))
        << strOut;
    EXPECT_TRUE(Contains(strOut, " (sleep); close it")) << strOut;
    EXPECT_EQ(device.DownloadsFinished(), 0);
}

} // namespace
