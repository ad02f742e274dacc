// fwupgrader-cli auto against simulated devices: the shared auto loop behind
// the command line, with the port going away as the operator's answer.
#include "CliRig.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

using fwsim::Personality;
using fwtest::CCliRig;

bool Contains(const std::string& strText, const std::string& strPart) {
    return strText.find(strPart) != std::string::npos;
}

TEST(CliAuto, FlashesDevicesPluggedOneAfterAnotherAndCountsThem) {
    CCliRig rig;
    const std::string strImage = rig.WriteImage("fw.bin", 20000, 9);
    fwtest::CChildProcess cli(FWUP_CLI_PATH, {"auto", "--count", "3", "--file", strImage},
                              {"FWUP_SYSROOT=" + rig.Root()});
    for (int n = 1; n <= 3; ++n) {
        fwsim::SimDeviceConfig config = rig.Config(Personality::Application, n);
        config.strAppTty = config.strBootTty = "ttyACM0"; // each takes the freed name
        fwsim::CSimDevice& device = rig.AddDevice(config);
        ASSERT_TRUE(device.WaitForDownloads(1, 40000)) << cli.Output();
        ASSERT_TRUE(cli.WaitForOutput(
            "devices passed: " + std::to_string(n) + ", failed: 0\nRemove the device\n", 20000))
            << cli.Output();
        device.Unplug(); // the operator takes it off the bench
        EXPECT_EQ(device.FlashAt(fwsim::kCodeAddress, 20000), rig.ReadFile(strImage));
    }
    EXPECT_EQ(cli.Wait(20000), 0) << cli.Output();
    EXPECT_TRUE(Contains(cli.Output(), "auto mode ended: devices passed: 3, failed: 0"));
}

TEST(CliAuto, InterruptEndsTheSearch) {
    CCliRig rig;
    fwtest::CChildProcess cli(FWUP_CLI_PATH, {"auto", "--file", "fw.bin"},
                              {"FWUP_SYSROOT=" + rig.Root()});
    ASSERT_TRUE(cli.WaitForOutput("detecting device ...", 5000)) << cli.Output();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(5000), 0) << cli.Output();
    EXPECT_TRUE(Contains(cli.Output(), "devices passed: 0, failed: 0"));
}

} // namespace
