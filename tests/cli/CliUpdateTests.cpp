// fwupgrader-cli update against simulated devices.
#include "CliRig.h"
#include "serial/PortAccess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
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
    ASSERT_GE(stages.size(), 6u);
    EXPECT_EQ(stages.front(), 0);
    EXPECT_EQ(stages[1], 4);
    // The read-back: its wait, then what the reader told.
    EXPECT_EQ(stages[stages.size() - 3], 7);
    EXPECT_EQ(stages[stages.size() - 2], 7);
    EXPECT_EQ(stages.back(), 1);
    for (size_t i = 2; i + 3 < stages.size(); ++i) {
        EXPECT_EQ(stages[i], 5);
    }
    EXPECT_TRUE(Contains(strOut, "\"name\":\"verifying\"")) << strOut;
    EXPECT_EQ(nLastProgress, 100);
    EXPECT_TRUE(Contains(strOut, "\"serial\":\"unknown\"")) << "a boot loader tells no serial";
}

TEST(CliUpdate, BadCommandLinesAreUsageErrorsBeforeAnyPort) {
    CCliRig rig;
    std::string strOut;
    const std::string strImage = rig.WriteImage("fw.bin", kFullImage);
    const std::string strSlots = rig.Root() + "/slots.txt";
    {
        std::ofstream slots(strSlots);
        slots << "# bench\n1-1:1-1:1.0 Slot A\n1-2:1-2:1.0\n";
    }
    const struct {
        std::vector<std::string> args;
        std::string strMessage;
    } rows[] = {
        {{"update", "--port", "no such port", "--file", strImage}, "names no port"},
        {{"update", "--port", "COM1", "--retries", "-1", "--file", strImage},
         "--retries needs a number of retries from 0 to 100, got '-1'"},
        {{"auto", "--retries", "2x", "--file", strImage}, "got '2x'"},
        {{"auto", "--retries", "101", "--file", strImage}, "got '101'"},
        {{"auto", "--slots", strSlots, "--file", strImage},
         "--slots labels the readers of "
         "--parallel: it needs --parallel"},
        {{"auto", "--parallel", "--slots", strSlots, "--file", strImage},
         "--slots: " + strSlots + ":3: '1-2:1-2:1.0' has no label"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(rig.RunCli(row.args, 10000, strOut), 2) << row.args[3] << strOut;
        EXPECT_TRUE(Contains(strOut, row.strMessage)) << strOut;
    }
}

// A flaky contact fails the first download at its second block; --retries 1 runs
// the job again on the same reader (now in its boot loader), and each attempt
// has its record.
TEST(CliUpdate, RetriesAFlakyDownloadAndRecordsEachAttempt) {
    CCliRig rig;
    fwsim::SimDeviceConfig config = rig.Config(Personality::Application);
    config.faults.nFailBlock = 2;
    config.faults.nFailTimes = 1;
    fwsim::CSimDevice& device = rig.AddDevice(config);
    const std::string strImage = rig.WriteImage("fw.bin", 20000, 5);
    const std::string strRecords = rig.Root() + "/r.jsonl";
    std::string strOut;
    EXPECT_EQ(rig.RunCli({"update", "--port", "COM1", "--retries", "1", "--record", strRecords,
                          "--file", strImage},
                         60000, strOut),
              0)
        << strOut;
    EXPECT_TRUE(Contains(strOut, "Communication Error\n")) << strOut;
    EXPECT_TRUE(Contains(strOut, "retrying (attempt 2) after: Communication Error\n")) << strOut;
    EXPECT_EQ(device.FlashAt(fwsim::kCodeAddress, 20000), rig.ReadFile(strImage));
    const std::vector<uint8_t> bytes = rig.ReadFile(strRecords);
    const std::vector<std::string> records = SplitLines(std::string(bytes.begin(), bytes.end()));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(Contains(records[0], "\"result\":\"Communication Error\"")) << records[0];
    EXPECT_TRUE(Contains(records[0], "\"attempt\":1,\"verified\":\"not checked\",\"cause\":\"the "
                                     "boot loader refused block 2 with status 2\","
                                     "\"outcome\":\"communication_error\"}"))
        << records[0];
    EXPECT_TRUE(Contains(records[1], "\"serial\":\"SN1001\"")) << records[1];
    EXPECT_TRUE(Contains(records[1], "\"exit_code\":0,")) << records[1];
    EXPECT_TRUE(Contains(records[1], "\"attempt\":2,")) << records[1];
}

// A reader still restarting when update begins (its port not listed yet): its
// record names the port and connector listed once it came.
TEST(CliUpdate, AReaderListedOnlyAfterTheStartHasItsListedNameInTheRecord) {
    CCliRig rig;
    const std::string strImage = rig.WriteImage("fw.bin", 3000);
    const std::string strRecords = rig.Root() + "/r.jsonl";
    fwtest::CChildProcess cli(
        FWUP_CLI_PATH, {"update", "--port", "COM1", "--record", strRecords, "--file", strImage},
        {"FWUP_SYSROOT=" + rig.Root()});
    ASSERT_TRUE(cli.WaitForOutput("connecting to (COM1)", 10000)) << cli.Output();
    rig.AddDevice(rig.Config(Personality::BootLoader));
    EXPECT_EQ(cli.Wait(60000), 0) << cli.Output();
    const std::vector<uint8_t> bytes = rig.ReadFile(strRecords);
    const std::string strRecord(bytes.begin(), bytes.end());
    EXPECT_FALSE(Contains(strRecord, "\"port\":\"(COM1)\"")) << strRecord;
    EXPECT_TRUE(Contains(strRecord, " (COM1)\",\"connector\":")) << strRecord;
    EXPECT_FALSE(Contains(strRecord, "\"connector\":\"\"")) << strRecord;
    EXPECT_FALSE(Contains(strRecord, "\"slot\":\"\"")) << strRecord;
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

// A bad image is refused before any port is touched: no reader present, and no
// detection's seconds spent.
TEST(CliUpdate, TheFileIsCheckedBeforeThePort) {
    CCliRig rig;
    const std::string strEmpty = rig.WriteImage("empty.bin", 0);
    const std::vector<std::vector<std::string>> lines = {
        {"update", "--port", "COM1", "--file", rig.Root() + "/missing.bin"},
        {"update", "--port", "COM1", "--file", strEmpty},
        {"auto", "--file", rig.Root() + "/missing.bin"},
    };
    for (const auto& args : lines) {
        std::string strOut;
        double dSeconds = 0;
        // Far below the first wait of a job (the port's appearance, 7 s).
        EXPECT_EQ(rig.RunCli(args, 3000, strOut, &dSeconds), 12) << args[0] << " " << args.back();
        EXPECT_TRUE(Contains(strOut, "invalid firmware file\ncause: ")) << strOut;
        EXPECT_FALSE(Contains(strOut, "device not detected")) << strOut;
    }
}

// identify: the connect step alone; list without a port points to doctor.
TEST(CliUpdate, IdentifyTellsWhoAnswersAndListWithoutPortsSaysSo) {
    CCliRig rig;
    std::string strOut;
    EXPECT_EQ(rig.RunCli({"list"}, 10000, strOut), 0);
    EXPECT_TRUE(Contains(strOut, "no USB serial port is present")) << strOut;
    EXPECT_TRUE(Contains(strOut, "'fwupgrader-cli doctor'")) << strOut;
    // No reader: the port does not open ("check connection"'s code).
    EXPECT_EQ(rig.RunCli({"identify", "--port", "COM1"}, 30000, strOut), 10) << strOut;
    EXPECT_TRUE(Contains(strOut, "does not open")) << strOut;

    fwsim::SimDeviceConfig config = rig.Config(Personality::Application);
    config.strVersion = "3.1.4.1";
    config.strSerial = "SN-ID-7\x1b[2J\x07\r"; // terminal controls come out escaped
    fwsim::CSimDevice& device = rig.AddDevice(config);
    EXPECT_EQ(rig.RunCli({"identify", "--port", "COM1"}, 30000, strOut), 0) << strOut;
    EXPECT_EQ(SplitLines(strOut).back(),
              "application 3.1.4.1, serial number SN-ID-7\\x1b[2J\\x07\\x0d")
        << strOut;
    EXPECT_EQ(rig.RunCli({"identify", "--port", "COM1", "--json"}, 30000, strOut), 0) << strOut;
    EXPECT_TRUE(Contains(strOut,
                         "\"answer\":\"application\",\"boot_version\":null,"
                         "\"version\":\"3.1.4.1\",\"serial\":\"SN-ID-7\\u001b[2J\\u0007\\r\"}"))
        << strOut;
    EXPECT_EQ(device.DownloadsFinished(), 0);
    // A reader that answers nothing: "device not detected"'s code.
    fwsim::SimDeviceConfig silent = rig.Config(Personality::Application, 2);
    silent.faults.bNoVersionReply = true;
    rig.AddDevice(silent);
    EXPECT_EQ(rig.RunCli({"identify", "--port", "COM2"}, 30000, strOut), 11) << strOut;
    EXPECT_TRUE(Contains(strOut, "nothing answered on")) << strOut;
    EXPECT_EQ(rig.RunCli({"--help"}, 10000, strOut), 0);
    for (const char* pszWord :
         {"list", "identify", "update", "auto", "doctor", "help", "--port", "--file", "--record",
          "--json", "--trace", "--count", "--parallel", "--slots", "--retries", "--version"}) {
        EXPECT_TRUE(Contains(strOut, pszWord)) << pszWord;
    }
}

} // namespace
