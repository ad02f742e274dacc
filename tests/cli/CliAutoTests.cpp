// fwupgrader-cli auto against simulated devices: the shared auto loop behind
// the command line, with the port going away as the operator's answer.
#include "CliRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <set>

namespace {

using fwsim::Personality;
using fwtest::CCliRig;

bool Contains(const std::string& strText, const std::string& strPart) {
    return strText.find(strPart) != std::string::npos;
}

// The second device fails its download: counted, and the program's exit code
// says that some device failed (15).
TEST(CliAuto, FlashesDevicesPluggedOneAfterAnotherAndCountsThem) {
    CCliRig rig;
    const std::string strImage = rig.WriteImage("fw.bin", 20000, 9);
    fwtest::CChildProcess cli(FWUP_CLI_PATH, {"auto", "--count", "3", "--file", strImage},
                              {"FWUP_SYSROOT=" + rig.Root()});
    for (int n = 1; n <= 3; ++n) {
        const bool bFails = n == 2;
        fwsim::SimDeviceConfig config = rig.Config(Personality::Application, n);
        config.strAppTty = config.strBootTty = "ttyACM0"; // each takes the freed name
        config.faults.nFailBlock = bFails ? 3 : 0;
        fwsim::CSimDevice& device = rig.AddDevice(config);
        if (!bFails) {
            ASSERT_TRUE(device.WaitForDownloads(1, 40000)) << cli.Output();
        }
        const int nPassed = n - (n > 1 ? 1 : 0);
        ASSERT_TRUE(cli.WaitForOutput("devices passed: " + std::to_string(nPassed) + ", failed: " +
                                          (n > 1 ? "1" : "0") + "\nRemove the device\n",
                                      60000))
            << cli.Output();
        device.Unplug(); // the operator takes it off the bench
        EXPECT_EQ(device.DownloadsFinished(), bFails ? 0 : 1);
        if (!bFails) {
            EXPECT_EQ(device.FlashAt(fwsim::kCodeAddress, 20000), rig.ReadFile(strImage));
        }
    }
    EXPECT_EQ(cli.Wait(20000), 15) << cli.Output();
    EXPECT_TRUE(Contains(cli.Output(), "auto mode ended: devices passed: 2, failed: 1"));
}

TEST(CliAuto, InterruptEndsTheSearch) {
    CCliRig rig;
    const std::string strImage = rig.WriteImage("fw.bin", 3000);
    fwtest::CChildProcess cli(FWUP_CLI_PATH, {"auto", "--file", strImage},
                              {"FWUP_SYSROOT=" + rig.Root()});
    ASSERT_TRUE(cli.WaitForOutput("detecting device ...", 5000)) << cli.Output();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(5000), 0) << cli.Output();
    EXPECT_TRUE(Contains(cli.Output(), "devices passed: 0, failed: 0"));
}

TEST(CliAuto, ParallelFlashesFourReadersAtOnceAndRecordsEachUnit) {
    CCliRig rig;
    const std::string strImage = rig.WriteImage("fw.bin", 40000, 3);
    std::vector<fwsim::CSimDevice*> devices;
    for (int n = 1; n <= 4; ++n) {
        devices.push_back(&rig.AddDevice(rig.Config(Personality::Application, n)));
    }
    const std::string strRecords = rig.Root() + "/r.jsonl";
    // The third reader's slot is named; the others are labelled by first sight.
    const std::string strSlots = rig.Root() + "/slots.txt";
    std::ofstream(strSlots) << "pci0000:00/0000:00:14.0/usb1/1-3:1-3:1.0 Bench 3\n";
    std::string strOut;
    EXPECT_EQ(rig.RunCli({"auto", "--parallel", "--slots", strSlots, "--count", "4", "--json",
                          "--record", strRecords, "--file", strImage},
                         90000, strOut),
              0)
        << strOut;
    for (fwsim::CSimDevice* pDevice : devices) {
        EXPECT_EQ(pDevice->FlashAt(fwsim::kCodeAddress, 40000), rig.ReadFile(strImage));
    }
    // Every JSON object of a unit names its port; the updating stage its serial.
    EXPECT_TRUE(Contains(strOut, "\"name\":\"updating\",\"port\":\"AT91 USB to Serial "
                                 "Converter (COM3)\",\"serial\":\"SN1003\",\"slot\":\"Bench "
                                 "3\",\"attempt\":1"))
        << strOut;
    const std::vector<uint8_t> recordBytes = rig.ReadFile(strRecords);
    const std::vector<std::string> records =
        fwtest::SplitLines(std::string(recordBytes.begin(), recordBytes.end()));
    ASSERT_EQ(records.size(), 4u);
    std::set<std::string> serials, slots;
    const char* const keys[] = {"time", "port",    "connector", "serial", "version",   "boot",
                                "file", "size",    "sha256",    "result", "exit_code", "seconds",
                                "id",   "station", "slot",      "attempt"};
    for (const std::string& strLine : records) {
        EXPECT_EQ(strLine.front(), '{');
        EXPECT_EQ(strLine.back(), '}');
        size_t nAt = 0;
        bool bFirst = true;
        for (const char* pszKey : keys) { // all of them, in this order
            nAt = strLine.find(std::string(bFirst ? "{" : ",") + "\"" + pszKey + "\":", nAt);
            ASSERT_NE(nAt, std::string::npos) << pszKey << " in " << strLine;
            bFirst = false;
        }
        // Nothing else: no value here holds a quote before a colon, so each "key":
        // is one of the sixteen, or of the read-back's three and the outcome.
        size_t nKeys = 0;
        for (size_t n = strLine.find("\":"); n != std::string::npos;
             n = strLine.find("\":", n + 1)) {
            ++nKeys;
        }
        EXPECT_EQ(nKeys, 19u) << strLine;
        serials.insert(strLine.substr(strLine.find("\"serial\":"), 19));
        slots.insert(strLine.substr(strLine.find(",\"slot\":")));
    }
    EXPECT_EQ(serials.size(), 4u);
    const std::string strProof =
        ",\"attempt\":1,\"version_after\":\"2.0.0.1\",\"verified\":\"yes\","
        "\"outcome\":\"passed\"}";
    EXPECT_EQ(slots, (std::set<std::string>{
                         ",\"slot\":\"Bench 3\"" + strProof, ",\"slot\":\"Slot 1\"" + strProof,
                         ",\"slot\":\"Slot 2\"" + strProof, ",\"slot\":\"Slot 3\"" + strProof}));
}

TEST(CliAuto, SecondInterruptStopsEveryReaderAtAPacketBoundary) {
    CCliRig rig;
    const std::string strImage = rig.WriteImage("fw.bin", 100000, 4);
    std::vector<fwsim::CSimDevice*> devices;
    for (int n = 1; n <= 2; ++n) {
        fwsim::SimDeviceConfig config = rig.Config(Personality::BootLoader, n);
        config.bPaced = true; // long enough a download to stop in its middle
        devices.push_back(&rig.AddDevice(config));
    }
    const std::string strRecords = rig.Root() + "/r.jsonl";
    fwtest::CChildProcess cli(FWUP_CLI_PATH,
                              {"auto", "--parallel", "--record", strRecords, "--file", strImage},
                              {"FWUP_SYSROOT=" + rig.Root()});
    ASSERT_TRUE(cli.WaitForOutput("[COM2] progress 5%", 40000)) << cli.Output();
    ASSERT_TRUE(cli.WaitForOutput("[COM1] progress 5%", 10000)) << cli.Output();
    cli.Signal(SIGINT); // no new reader; those in flight would finish
    ASSERT_TRUE(cli.WaitForOutput("no new device", 5000)) << cli.Output();
    cli.Signal(SIGINT); // now they stop at their next packet boundary
    EXPECT_EQ(cli.Wait(2000), 130) << cli.Output();
    const std::vector<uint8_t> recordBytes = rig.ReadFile(strRecords);
    const std::string strRecordText(recordBytes.begin(), recordBytes.end());
    EXPECT_EQ(std::count(strRecordText.begin(), strRecordText.end(), '\n'), 2);
    EXPECT_EQ(fwtest::SplitLines(strRecordText).size(), 2u);
    EXPECT_TRUE(Contains(strRecordText, "\"result\":\"interrupted\",\"exit_code\":130"));
    for (fwsim::CSimDevice* pDevice : devices) {
        EXPECT_EQ(pDevice->DownloadsFinished(), 0);
    }
}

} // namespace

// Four readers, one starting in its boot loader, each bringing 2.1.0.0 after its
// download: every record proves its unit (serial, version read back, verified),
// a second pass over the same readers flashes nothing and records "current",
// and the summary counts four units, all passed at their first attempt.
TEST(CliAuto, ReadBackProvesEveryUnitAndASecondPassFlashesNothing) {
    CCliRig rig;
    const std::string strImage = rig.WriteImage("fw.bin", 20000, 4);
    std::vector<fwsim::CSimDevice*> devices;
    for (int n = 1; n <= 4; ++n) {
        fwsim::SimDeviceConfig config =
            rig.Config(n == 4 ? Personality::BootLoader : Personality::Application, n);
        config.strFlashedVersion = "2.1.0.0";
        devices.push_back(&rig.AddDevice(config));
    }
    const std::string strDb = rig.Root() + "/units.db";
    const std::vector<std::string> run = {
        "auto",     "--parallel", "--count",          "4",      "--file", strImage,
        "--record", strDb,        "--expect-version", "2.1.0.0"};
    std::string strOut;
    ASSERT_EQ(rig.RunCli(run, 90000, strOut), 0) << strOut;
    ASSERT_EQ(rig.RunCli(run, 90000, strOut), 0) << strOut;
    EXPECT_TRUE(Contains(strOut, "devices passed: 0, failed: 0, current: 4")) << strOut;
    for (fwsim::CSimDevice* pDevice : devices) {
        EXPECT_EQ(pDevice->DownloadsFinished(), 1);
    }

    ASSERT_EQ(rig.RunCli({"records", "list", "--db", strDb, "--format", "jsonl"}, 20000, strOut), 0)
        << strOut;
    std::multiset<std::string> results;
    for (const std::string& strLine : fwtest::SplitLines(strOut)) {
        EXPECT_FALSE(Contains(strLine, "\"serial\":null")) << strLine;
        const bool bCurrent = Contains(strLine, "\"outcome\":\"current\"");
        results.insert(bCurrent ? "current"
                       : Contains(strLine, "\"version_after\":\"2.1.0.0\","
                                           "\"verified\":\"yes\",\"outcome\":"
                                           "\"passed\"")
                           ? "proven"
                           : strLine);
    }
    EXPECT_EQ(results, (std::multiset<std::string>{"current", "current", "current", "current",
                                                   "proven", "proven", "proven", "proven"}));
    ASSERT_EQ(rig.RunCli({"records", "summary", "--db", strDb, "--json"}, 20000, strOut), 0)
        << strOut;
    EXPECT_TRUE(Contains(strOut, "{\"units\":4,\"units_without_serial\":0,\"attempts\":4,"
                                 "\"passed\":4,\"failed\":0,\"stopped\":0,\"current\":4,"
                                 "\"first_pass_units\":4,\"first_pass_yield\":1.0000,"
                                 "\"final_pass_units\":4,\"final_yield\":1.0000"))
        << strOut;
    // CSV: a header and one line per record, no cell running over a line (the
    // success text has two).
    ASSERT_EQ(rig.RunCli({"records", "list", "--db", strDb, "--format", "csv"}, 20000, strOut), 0);
    const std::vector<std::string> lines = fwtest::SplitLines(strOut);
    EXPECT_EQ(lines.size(), 9u) << strOut;
    for (const std::string& strLine : lines) {
        EXPECT_EQ(std::count(strLine.begin(), strLine.end(), '"') % 2, 0) << strLine;
    }
}
