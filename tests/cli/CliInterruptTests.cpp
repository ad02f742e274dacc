// Ctrl-C during fwupgrader-cli update: the packet in flight finishes, the program
// says the reader waits in its boot loader and exits 130, and the next update of
// that reader completes.
#include "CliRig.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

using fwsim::Personality;
using fwtest::CCliRig;

TEST(CliInterrupt, StopsAtAPacketBoundaryAndTheNextUpdateFinishes) {
    CCliRig rig;
    auto config = rig.Config(Personality::BootLoader);
    config.bPaced = true; // 115200 baud: the download lasts long enough to interrupt
    fwsim::CSimDevice& device = rig.AddDevice(config);
    const std::string strImage = rig.WriteImage("fw.bin", 60000);

    fwtest::CChildProcess first(FWUP_CLI_PATH, {"update", "--port", "COM1", "--file", strImage},
                                {"FWUP_SYSROOT=" + rig.Root()});
    ASSERT_TRUE(first.WaitForOutput("progress 20%", 30000)) << first.Output();
    first.Signal(SIGINT);
    // Wait's limit is the bound: a program still running after 2 s is killed (-1).
    EXPECT_EQ(first.Wait(2000), 130) << first.Output();
    EXPECT_NE(first.Output().find("interrupted\ncause: stopped on request at block"),
              std::string::npos)
        << first.Output();
    EXPECT_NE(first.Output().find("still in its boot loader"), std::string::npos);
    EXPECT_EQ(device.DownloadsFinished(), 0);

    std::string strOut;
    EXPECT_EQ(rig.RunCli({"update", "--port", "COM1", "--file", strImage}, 60000, strOut), 0)
        << strOut;
    EXPECT_EQ(device.FlashAt(fwsim::kCodeAddress, 60000), rig.ReadFile(strImage));
}

} // namespace
