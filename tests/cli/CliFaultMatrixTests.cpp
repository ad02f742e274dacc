// Every fault of the simulated device on the command-line path: the expected
// failure text, "cause:" line and exit code, within the protocol's deadlines plus
// a margin. The rows run side by side, a few at a time (each with its own root and
// devices), and the whole matrix is printed.
#include "CliRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

namespace {

using fwsim::Personality;

struct FaultRow {
    const char* pszName;
    Personality eStart;
    std::function<void(fwsim::SimDeviceConfig&)> setUp; // nullptr: no device at all
    size_t nImage;
    int nExit;
    const char* pszText;
    const char* pszCause; // part of the "cause:" line; nullptr: there must be none
    double dLimitSeconds; // the protocol's deadlines on that path, plus a margin
};

// Sanitized builds (Debug, instrumented) run the CPU-bound part of a row, the
// transfer, several times slower; the protocol's waits stay as they are.
#if defined(__SANITIZE_THREAD__)
constexpr double kSlowdown = 4;
#elif defined(__SANITIZE_ADDRESS__)
constexpr double kSlowdown = 2;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr double kSlowdown = 4;
#elif __has_feature(address_sanitizer)
constexpr double kSlowdown = 2;
#else
constexpr double kSlowdown = 1;
#endif
#else
constexpr double kSlowdown = 1;
#endif

// Rows mostly wait out the protocol's deadlines, so more run at once than there
// are cores; all of them at once would starve the transfers of CPU.
unsigned RowsAtOnce() {
    return std::max(6u, 4 * std::thread::hardware_concurrency());
}

// 176128 bytes at 236 data bytes a block are 747 blocks.
constexpr size_t kFull = 176128;
int BlockAtPercent(int nPercent) {
    return 747 * nPercent / 100;
}

const char* const kSuccess = "FW Update Successful!";

std::vector<FaultRow> Rows() {
    using C = fwsim::SimDeviceConfig;
    const char* const kUnplugged = "the reader was unplugged or lost power";
    return {
        {"healthy application", Personality::Application, [](C&) {}, kFull, 0, kSuccess, nullptr,
         30},
        {"healthy boot loader", Personality::BootLoader, [](C&) {}, kFull, 0, kSuccess, nullptr,
         30},
        {"no device at all", Personality::Application, nullptr, kFull, 10, "check connection",
         "no USB serial port COM1 is present", 12},
        {"no reply to ~rv", Personality::Application, [](C& c) { c.faults.bNoVersionReply = true; },
         kFull, 11, "device not detected", "nothing answered on", 16},
        {"wrong reply to ~dboot", Personality::Application,
         [](C& c) { c.faults.bWrongBootReply = true; }, kFull, 13,
         "boot loader failed. check connection", "the application refused \"~dboot\"", 20},
        {"no reply to ~dboot", Personality::Application, [](C& c) { c.faults.bNoBootReply = true; },
         kFull, 0, kSuccess, nullptr, 35},
        {"boot loader never answers", Personality::Application,
         [](C& c) { c.faults.bBootLoaderSilent = true; }, kFull, 13,
         "boot loader failed. check connection", "the boot loader did not answer its status query",
         30},
        {"port never comes back", Personality::Application,
         [](C& c) { c.faults.bNeverReturns = true; }, kFull, 13,
         "boot loader failed. check connection", "the reader's port did not come back within", 30},
        {"block 3 status 2", Personality::BootLoader,
         [](C& c) { c.faults.nFailBlock = 3, c.faults.dwFailStatus = 2; }, kFull, 14,
         "Communication Error", "refused block 3 with status 2", 25},
        {"block 3 status 5", Personality::BootLoader,
         [](C& c) { c.faults.nFailBlock = 3, c.faults.dwFailStatus = 5; }, kFull, 14,
         "Communication Error", "refused block 3 with status 5", 25},
        {"block 400 status 7", Personality::BootLoader,
         [](C& c) { c.faults.nFailBlock = 400, c.faults.dwFailStatus = 7; }, kFull, 14,
         "Communication Error", "refused block 400 with status 7", 25},
        {"info packet of 20 bytes", Personality::BootLoader,
         [](C& c) { c.faults.bLongInfoPacket = true; }, kFull, 14, "Communication Error",
         "malformed packet during the handshake", 25},
        {"bad final reply", Personality::BootLoader, [](C& c) { c.faults.bBadFinalReply = true; },
         kFull, 14, "Communication Error", "did not confirm the finish (status 9)", 30},
        {"silent from block 100", Personality::BootLoader,
         [](C& c) { c.faults.nSilentAtBlock = 100; }, kFull, 14, "Communication Error",
         "no reply at block 100 within", 30},
        {"unplugged at 10%", Personality::BootLoader,
         [](C& c) { c.faults.nUnplugAtBlock = BlockAtPercent(10); }, kFull, 14,
         "Communication Error", kUnplugged, 25},
        {"unplugged at 50%", Personality::BootLoader,
         [](C& c) { c.faults.nUnplugAtBlock = BlockAtPercent(50); }, kFull, 14,
         "Communication Error", kUnplugged, 25},
        {"unplugged at 99%", Personality::BootLoader,
         [](C& c) { c.faults.nUnplugAtBlock = BlockAtPercent(99); }, kFull, 14,
         "Communication Error", kUnplugged, 25},
        {"port stays 3 s after finish", Personality::BootLoader,
         [](C& c) { c.faults.dwStayAfterFinishMs = 3000; }, kFull, 0, kSuccess, nullptr, 35},
        {"garbage before replies", Personality::Application,
         [](C& c) { c.faults.nGarbageBytes = 24; }, kFull, 0, kSuccess, nullptr, 35},
        {"slow replies (80 ms)", Personality::BootLoader,
         [](C& c) { c.faults.dwReplyDelayMs = 80; }, 8000, 0, kSuccess, nullptr, 40},
        // As rude as real hardware: noise waiting in the port each time it appears,
        // "~Dboot" gone with the hang-up, and the boot loader late (5 s of the 2 s
        // pause and 5 s wait) under another tty name and product text.
        {"rude reader, late boot loader", Personality::Application,
         [](C& c) {
             c.faults.nNoiseAtPlug = 13;
             c.faults.bDropAtOnce = true;
             c.dwAppRestartMs = 5000;
             c.strBootTty = "ttyUSB4";
             c.strBootProduct = "Tarnic Boot Loader";
         },
         kFull, 0, kSuccess, nullptr, 38},
        {"file of 176129 bytes", Personality::BootLoader, [](C&) {}, kFull + 1, 12,
         "invalid firmware file", "holds 176129 bytes", 15},
        // Hostile readers. One 64 KiB packet is more than the pty holds, so a reader
        // that stops reading blocks the write: the packet's wait plus its wire time.
        {"stops reading after block 1", Personality::BootLoader,
         [](C& c) { c.dwMaxPacketWords = 16384, c.faults.nStopReadingAfterBlock = 1; }, kFull, 14,
         "Communication Error", "the reader stopped reading at block 2", 30},
        {"floods junk", Personality::Application, [](C& c) { c.faults.bJunkFlood = true; }, kFull,
         11, "device not detected", "floods the port with data that is not the reader's protocol",
         16},
        // Terminal controls, a fake line and invalid UTF-8 come out escaped on one line.
        {"control characters in texts", Personality::Application,
         [](C& c) {
             c.strSerial = "SN\x1b]0;x\x07\nFW Update Successful!\xff\xfe";
             c.strVersion = "2.0\x1b[31m\xc2\x9b";
             c.strReadyText = "T\x07\x7f";
         },
         8000, 0, "updating device[SN\\x1b]0;x\\x07\\x0aFW Update Successful!\\xff\\xfe] ...",
         nullptr, 35},
        // Refused like a missing file: it would flash nothing and report success.
        {"empty file", Personality::BootLoader, [](C&) {}, 0, 12, "invalid firmware file",
         "is empty (0 bytes)", 15},
    };
}

struct RowResult {
    int nExit = -1;
    double dSeconds = 0;
    std::string strOutput;
};

// The "cause:" line of a run's output, "" when there is none.
std::string CauseLine(const std::string& strOutput) {
    for (const std::string& strLine : fwtest::SplitLines(strOutput)) {
        if (strLine.rfind("cause: ", 0) == 0) {
            return strLine;
        }
    }
    return {};
}

TEST(CliFaultMatrix, EveryFaultEndsWithItsTextInTime) {
    const std::vector<FaultRow> rows = Rows();
    std::vector<std::unique_ptr<fwtest::CCliRig>> rigs;
    std::vector<std::string> images;
    for (const FaultRow& row : rows) {
        rigs.push_back(std::make_unique<fwtest::CCliRig>());
        images.push_back(rigs.back()->WriteImage("fw.bin", row.nImage));
    }
    // A pool of workers takes the rows in turn; a row's device starts with its run.
    std::vector<RowResult> results(rows.size());
    std::atomic<size_t> nNext{0};
    const auto work = [&] {
        for (size_t i = nNext++; i < rows.size(); i = nNext++) {
            if (rows[i].setUp) {
                fwsim::SimDeviceConfig config = rigs[i]->Config(rows[i].eStart);
                rows[i].setUp(config);
                rigs[i]->AddDevice(config);
            }
            RowResult& result = results[i];
            result.nExit =
                rigs[i]->RunCli({"update", "--port", "COM1", "--file", images[i]},
                                static_cast<uint32_t>(rows[i].dLimitSeconds * kSlowdown * 2000),
                                result.strOutput, &result.dSeconds);
        }
    };
    std::vector<std::thread> workers;
    for (unsigned n = 0; n < std::min<size_t>(RowsAtOnce(), rows.size()); ++n) {
        workers.emplace_back(work);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    std::printf("\n%-30s %-40s %5s %8s %7s\n", "fault", "outcome", "exit", "seconds", "limit");
    for (size_t i = 0; i < rows.size(); ++i) {
        const RowResult& result = results[i];
        const FaultRow& row = rows[i];
        const double dLimit = row.dLimitSeconds * kSlowdown;
        const bool bText = result.strOutput.find(row.pszText) != std::string::npos;
        std::printf("%-30s %-40s %5d %8.1f %7.0f\n", row.pszName, bText ? row.pszText : "(other)",
                    result.nExit, result.dSeconds, dLimit);
        EXPECT_EQ(result.nExit, row.nExit) << row.pszName << "\n" << result.strOutput;
        EXPECT_TRUE(bText) << row.pszName << "\n" << result.strOutput;
        const std::string strCause = CauseLine(result.strOutput);
        if (row.pszCause == nullptr) {
            EXPECT_EQ(strCause, "") << row.pszName;
        } else {
            EXPECT_NE(strCause.find(row.pszCause), std::string::npos)
                << row.pszName << ": " << strCause;
        }
        EXPECT_LE(result.dSeconds, dLimit) << row.pszName;
        // No outside text reaches the terminal raw.
        EXPECT_EQ(result.strOutput.find('\x1b'), std::string::npos) << row.pszName;
    }
    std::fflush(stdout);
}

} // namespace
