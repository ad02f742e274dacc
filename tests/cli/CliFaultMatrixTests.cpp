// Every fault of the simulated device on the command-line path: the expected
// failure text and exit code, within the protocol's deadlines plus a margin.
// The rows run side by side (each with its own root and devices) and the whole
// matrix is printed.
#include "CliRig.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <future>

namespace {

using fwsim::Personality;

struct FaultRow {
    const char* pszName;
    Personality eStart;
    std::function<void(fwsim::SimDeviceConfig&)> setUp; // nullptr: no device at all
    size_t nImage;
    int nExit;
    const char* pszText;
    double dLimitSeconds; // the protocol's deadlines on that path, plus a margin
};

// 176128 bytes at 236 data bytes a block are 747 blocks.
constexpr size_t kFull = 176128;
int BlockAtPercent(int nPercent) {
    return 747 * nPercent / 100;
}

const char* const kSuccess = "FW Update Successful!";

std::vector<FaultRow> Rows() {
    using C = fwsim::SimDeviceConfig;
    return {
        {"healthy application", Personality::Application, [](C&) {}, kFull, 0, kSuccess, 30},
        {"healthy boot loader", Personality::BootLoader, [](C&) {}, kFull, 0, kSuccess, 30},
        {"no device at all", Personality::Application, nullptr, kFull, 10, "check connection", 12},
        {"no reply to ~rv", Personality::Application, [](C& c) { c.faults.bNoVersionReply = true; },
         kFull, 11, "device not detected", 16},
        {"wrong reply to ~dboot", Personality::Application,
         [](C& c) { c.faults.bWrongBootReply = true; }, kFull, 13,
         "boot loader failed. check connection", 20},
        {"no reply to ~dboot", Personality::Application, [](C& c) { c.faults.bNoBootReply = true; },
         kFull, 0, kSuccess, 35},
        {"boot loader never answers", Personality::Application,
         [](C& c) { c.faults.bBootLoaderSilent = true; }, kFull, 13,
         "boot loader failed. check connection", 30},
        {"port never comes back", Personality::Application,
         [](C& c) { c.faults.bNeverReturns = true; }, kFull, 13,
         "boot loader failed. check connection", 30},
        {"block 3 status 2", Personality::BootLoader,
         [](C& c) { c.faults.nFailBlock = 3, c.faults.dwFailStatus = 2; }, kFull, 14,
         "Communication Error", 25},
        {"block 3 status 5", Personality::BootLoader,
         [](C& c) { c.faults.nFailBlock = 3, c.faults.dwFailStatus = 5; }, kFull, 14,
         "Communication Error", 25},
        {"block 400 status 7", Personality::BootLoader,
         [](C& c) { c.faults.nFailBlock = 400, c.faults.dwFailStatus = 7; }, kFull, 14,
         "Communication Error", 25},
        {"info packet of 20 bytes", Personality::BootLoader,
         [](C& c) { c.faults.bLongInfoPacket = true; }, kFull, 14, "Communication Error", 25},
        {"bad final reply", Personality::BootLoader, [](C& c) { c.faults.bBadFinalReply = true; },
         kFull, 14, "Communication Error", 30},
        {"silent from block 100", Personality::BootLoader,
         [](C& c) { c.faults.nSilentAtBlock = 100; }, kFull, 14, "Communication Error", 30},
        {"unplugged at 10%", Personality::BootLoader,
         [](C& c) { c.faults.nUnplugAtBlock = BlockAtPercent(10); }, kFull, 14,
         "Communication Error", 25},
        {"unplugged at 50%", Personality::BootLoader,
         [](C& c) { c.faults.nUnplugAtBlock = BlockAtPercent(50); }, kFull, 14,
         "Communication Error", 25},
        {"unplugged at 99%", Personality::BootLoader,
         [](C& c) { c.faults.nUnplugAtBlock = BlockAtPercent(99); }, kFull, 14,
         "Communication Error", 25},
        {"port stays 3 s after finish", Personality::BootLoader,
         [](C& c) { c.faults.dwStayAfterFinishMs = 3000; }, kFull, 0, kSuccess, 35},
        {"garbage before replies", Personality::Application,
         [](C& c) { c.faults.nGarbageBytes = 24; }, kFull, 0, kSuccess, 35},
        {"slow replies (80 ms)", Personality::BootLoader,
         [](C& c) { c.faults.dwReplyDelayMs = 80; }, 8000, 0, kSuccess, 40},
        {"file of 176129 bytes", Personality::BootLoader, [](C&) {}, kFull + 1, 12,
         "invalid firmware file", 15},
        // Hostile readers. One 64 KiB packet is more than the pty holds, so a reader
        // that stops reading blocks the write: the packet's wait plus its wire time.
        {"stops reading after block 1", Personality::BootLoader,
         [](C& c) { c.dwMaxPacketWords = 16384, c.faults.nStopReadingAfterBlock = 1; }, kFull, 14,
         "cause: the reader stopped reading at block 2", 30},
        {"floods junk", Personality::Application, [](C& c) { c.faults.bJunkFlood = true; }, kFull,
         11, "floods the port with data that is not the reader's protocol", 16},
        // Terminal controls, a fake line and invalid UTF-8 come out escaped on one line.
        {"control characters in texts", Personality::Application,
         [](C& c) {
             c.strSerial = "SN\x1b]0;x\x07\nFW Update Successful!\xff\xfe";
             c.strVersion = "2.0\x1b[31m\xc2\x9b";
             c.strReadyText = "T\x07\x7f";
         },
         8000, 0, "updating device[SN\\x1b]0;x\\x07\\x0aFW Update Successful!\\xff\\xfe] ...", 35},
        // Refused like a missing file: it would flash nothing and report success.
        {"empty file", Personality::BootLoader, [](C&) {}, 0, 12, "invalid firmware file", 15},
    };
}

struct RowResult {
    int nExit = -1;
    double dSeconds = 0;
    std::string strOutput;
};

TEST(CliFaultMatrix, EveryFaultEndsWithItsTextInTime) {
    const std::vector<FaultRow> rows = Rows();
    std::vector<std::unique_ptr<fwtest::CCliRig>> rigs;
    std::vector<std::string> images;
    for (const FaultRow& row : rows) {
        rigs.push_back(std::make_unique<fwtest::CCliRig>());
        if (row.setUp) {
            fwsim::SimDeviceConfig config = rigs.back()->Config(row.eStart);
            row.setUp(config);
            rigs.back()->AddDevice(config);
        }
        images.push_back(rigs.back()->WriteImage("fw.bin", row.nImage));
    }
    std::vector<std::future<RowResult>> runs;
    for (size_t i = 0; i < rows.size(); ++i) {
        runs.push_back(std::async(std::launch::async, [&, i] {
            RowResult result;
            result.nExit = rigs[i]->RunCli({"update", "--port", "COM1", "--file", images[i]},
                                           static_cast<uint32_t>(rows[i].dLimitSeconds * 2000),
                                           result.strOutput, &result.dSeconds);
            return result;
        }));
    }
    std::printf("\n%-30s %-40s %5s %8s %7s\n", "fault", "outcome", "exit", "seconds", "limit");
    for (size_t i = 0; i < rows.size(); ++i) {
        const RowResult result = runs[i].get();
        const FaultRow& row = rows[i];
        const bool bText = result.strOutput.find(row.pszText) != std::string::npos;
        std::printf("%-30s %-40s %5d %8.1f %7.0f\n", row.pszName, bText ? row.pszText : "(other)",
                    result.nExit, result.dSeconds, row.dLimitSeconds);
        EXPECT_EQ(result.nExit, row.nExit) << row.pszName << "\n" << result.strOutput;
        EXPECT_TRUE(bText) << row.pszName << "\n" << result.strOutput;
        EXPECT_LE(result.dSeconds, row.dLimitSeconds) << row.pszName;
        // No outside text reaches the terminal raw.
        EXPECT_EQ(result.strOutput.find('\x1b'), std::string::npos) << row.pszName;
    }
    std::fflush(stdout);
}

} // namespace
