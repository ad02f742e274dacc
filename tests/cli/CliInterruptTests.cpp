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

// The last Ctrl-C ends the program at once (130), also while a packet's reply is
// awaited: the reader goes silent at block 3, so an orderly stop would wait out
// the reply's 5 s and end in "Communication Error".
TEST(CliInterrupt, TheLastInterruptQuitsAtOnceWhileAReplyIsAwaited) {
    const struct {
        std::vector<std::string> args;
        std::vector<const char*> answers; // what each Ctrl-C before the last one prints
    } rows[] = {
        {{"update", "--port", "COM1"}, {"stopping at the next packet boundary"}},
        {{"auto"}, {"no new device", "stopping every device in flight"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args[0]);
        CCliRig rig;
        auto config = rig.Config(Personality::BootLoader);
        config.faults.nSilentAtBlock = 3;
        fwsim::CSimDevice& device = rig.AddDevice(config);
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"--file", rig.WriteImage("fw.bin", 20000)});
        fwtest::CChildProcess cli(FWUP_CLI_PATH, args, {"FWUP_SYSROOT=" + rig.Root()});
        ASSERT_TRUE(cli.WaitForOutput("progress 2%", 30000)) << cli.Output(); // block 2 of 85
        for (const char* pszAnswer : row.answers) {
            cli.Signal(SIGINT);
            // Generous: under ThreadSanitizer on a loaded machine an answer took over 2 s.
            ASSERT_TRUE(cli.WaitForOutput(pszAnswer, 15000)) << cli.Output();
        }
        cli.Signal(SIGINT);
        // Well inside the reply's 5 s that an orderly stop would wait out.
        EXPECT_EQ(cli.Wait(3500), 130) << cli.Output();
        EXPECT_EQ(cli.Output().find("Communication Error"), std::string::npos) << cli.Output();
        EXPECT_EQ(device.DownloadsFinished(), 0);
    }
}

// A lost terminal asks for the orderly stop, never for more: even a second SIGHUP
// lets the packet in flight finish, and the unit's record is written.
TEST(CliInterrupt, HangupStopsAtAPacketBoundaryAndWritesTheRecord) {
    CCliRig rig;
    auto config = rig.Config(Personality::BootLoader);
    config.bPaced = true;
    fwsim::CSimDevice& device = rig.AddDevice(config);
    const std::string strImage = rig.WriteImage("fw.bin", 60000);
    const std::string strRecord = rig.Root() + "/records.jsonl";

    fwtest::CChildProcess cli(
        FWUP_CLI_PATH, {"update", "--port", "COM1", "--file", strImage, "--record", strRecord},
        {"FWUP_SYSROOT=" + rig.Root()});
    ASSERT_TRUE(cli.WaitForOutput("progress 20%", 30000)) << cli.Output();
    cli.Signal(SIGHUP);
    cli.Signal(SIGHUP);
    EXPECT_EQ(cli.Wait(5000), 130) << cli.Output();
    EXPECT_NE(cli.Output().find("interrupted\ncause: stopped on request at block"),
              std::string::npos)
        << cli.Output();
    const std::vector<uint8_t> bytes = rig.ReadFile(strRecord);
    const std::vector<std::string> records =
        fwtest::SplitLines(std::string(bytes.begin(), bytes.end()));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find("\"result\":\"interrupted\""), std::string::npos) << records[0];
    EXPECT_EQ(device.DownloadsFinished(), 0);
}

// `update | head -n 2`: the closed pipe ends the printing, not the download.
TEST(CliInterrupt, ClosedOutputLetsTheDownloadAndItsRecordFinish) {
    CCliRig rig;
    fwsim::CSimDevice& device = rig.AddDevice(rig.Config(Personality::BootLoader));
    const std::string strImage = rig.WriteImage("fw.bin", 60000);
    const std::string strRecord = rig.Root() + "/records.jsonl";
    fwtest::CChildProcess shell(
        "/bin/bash",
        {"-c",
         "\"$0\" update --port COM1 --file \"$1\" --record \"$2\" | head -n 2; "
         "exit \"${PIPESTATUS[0]}\"",
         FWUP_CLI_PATH, strImage, strRecord},
        {"FWUP_SYSROOT=" + rig.Root()});
    EXPECT_EQ(shell.Wait(60000), 0) << shell.Output();
    EXPECT_EQ(fwtest::SplitLines(shell.Output()).size(), 2u) << shell.Output();
    EXPECT_EQ(device.DownloadsFinished(), 1);
    EXPECT_EQ(device.FlashAt(fwsim::kCodeAddress, 60000), rig.ReadFile(strImage));
    const std::vector<uint8_t> record = rig.ReadFile(strRecord);
    EXPECT_NE(std::string(record.begin(), record.end()).find("\"exit_code\":0"), std::string::npos);
}

} // namespace
