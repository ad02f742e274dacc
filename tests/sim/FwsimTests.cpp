// The fwsim program: its command line, and one run as a separate process.
#include "HostLink.h"
#include "SimTestSupport.h"
#include "sim/FwsimOptions.h"
#include "sim/SimPackets.h"
#include "tests/support/CTempRoot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fwsim {
namespace {

namespace fs = std::filesystem;

TEST(FwsimOptions, ParsesEveryOption) {
    FwsimOptions options;
    std::string strError;
    const std::vector<std::string> args = {"--root",
                                           "/tmp/r",
                                           "--start",
                                           "boot",
                                           "--version",
                                           "9.9",
                                           "--serial=S\\x071",
                                           "--boot-status",
                                           "0xDEADBEEF",
                                           "--max-packet-words",
                                           "32",
                                           "--app-restart-ms",
                                           "10",
                                           "--boot-restart-ms",
                                           "20",
                                           "--ready-delay-ms",
                                           "30",
                                           "--no-return",
                                           "--app-product",
                                           "App",
                                           "--boot-product",
                                           "Boot",
                                           "--app-tty",
                                           "ttyUSB2",
                                           "--boot-tty",
                                           "ttyUSB7",
                                           "--usb-path",
                                           "3-1.4",
                                           "--paced",
                                           "--flash-out",
                                           "/tmp/f.bin",
                                           "--devices",
                                           "3",
                                           "--plug-delay",
                                           "500",
                                           "--no-version-reply",
                                           "--wrong-boot-reply",
                                           "--no-boot-reply",
                                           "--silent-boot-loader",
                                           "--never-return",
                                           "--fail-block",
                                           "4",
                                           "--fail-status",
                                           "5",
                                           "--long-info",
                                           "--bad-final",
                                           "--silent-at-block",
                                           "6",
                                           "--unplug-at-block",
                                           "7",
                                           "--stay-after-finish",
                                           "800",
                                           "--garbage",
                                           "9",
                                           "--reply-delay",
                                           "11",
                                           "--drop-at-once",
                                           "--silent-handshake",
                                           "--handshake-status",
                                           "15",
                                           "--noise-at-plug",
                                           "13",
                                           "--ready-text",
                                           "XY",
                                           "--stop-reading-after-block",
                                           "12",
                                           "--junk-flood",
                                           "--raw-texts"};
    ASSERT_TRUE(ParseFwsimOptions(args, options, strError)) << strError;
    const SimDeviceConfig& d = options.device;
    const SimFaults& f = d.faults;
    EXPECT_EQ(d.strRoot, "/tmp/r");
    EXPECT_EQ(d.eStart, Personality::BootLoader);
    EXPECT_EQ(d.strVersion, "9.9");
    EXPECT_EQ(d.strSerial, std::string("S\x07"
                                       "1")); // --raw-texts: "\x07" is one byte
    EXPECT_EQ(d.strReadyText, "XY");
    EXPECT_EQ(d.dwBootStatus, 0xDEADBEEFu);
    EXPECT_EQ(d.dwMaxPacketWords, 32u);
    EXPECT_EQ(d.dwAppRestartMs, 10u);
    EXPECT_EQ(d.dwBootRestartMs, 20u);
    EXPECT_EQ(d.dwReadyDelayMs, 30u);
    EXPECT_FALSE(d.bReturnAsApp);
    EXPECT_EQ(d.strAppProduct, "App");
    EXPECT_EQ(d.strBootProduct, "Boot");
    EXPECT_EQ(d.strAppTty, "ttyUSB2");
    EXPECT_EQ(d.strBootTty, "ttyUSB7");
    EXPECT_EQ(d.strUsbPath, "3-1.4");
    EXPECT_TRUE(d.bPaced);
    EXPECT_EQ(d.strFlashOut, "/tmp/f.bin");
    EXPECT_EQ(options.nDevices, 3);
    EXPECT_EQ(options.dwPlugDelayMs, 500u);
    EXPECT_TRUE(f.bNoVersionReply && f.bWrongBootReply && f.bNoBootReply && f.bBootLoaderSilent &&
                f.bNeverReturns && f.bLongInfoPacket && f.bBadFinalReply);
    EXPECT_EQ(f.nFailBlock, 4);
    EXPECT_EQ(f.dwFailStatus, 5u);
    EXPECT_EQ(f.nSilentAtBlock, 6);
    EXPECT_EQ(f.nUnplugAtBlock, 7);
    EXPECT_EQ(f.dwStayAfterFinishMs, 800u);
    EXPECT_EQ(f.nGarbageBytes, 9u);
    EXPECT_EQ(f.dwReplyDelayMs, 11u);
    EXPECT_EQ(f.nStopReadingAfterBlock, 12);
    EXPECT_TRUE(f.bJunkFlood);
    EXPECT_TRUE(f.bDropAtOnce && f.bSilentHandshake);
    EXPECT_EQ(f.dwHandshakeStatus, 15u);
    EXPECT_EQ(f.nNoiseAtPlug, 13u);

    const SimDeviceConfig third = DeviceConfigFor(options, 3);
    EXPECT_EQ(third.strUsbPath, "3-1.6");
    EXPECT_EQ(third.strAppTty, "ttyUSB4");
    EXPECT_EQ(third.strBootTty, "ttyUSB9");
    EXPECT_EQ(third.strFlashOut, "/tmp/f-3.bin");
    EXPECT_EQ(third.strSerial, RaiseTrailingNumber(options.device.strSerial, 2));
    EXPECT_EQ(RaiseTrailingNumber("SN00000009", 3), "SN00000012"); // width kept
    EXPECT_EQ(RaiseTrailingNumber("SN99", 1), "SN100");
}

TEST(FwsimOptions, RefusesBadOptionsWithAReason) {
    const std::vector<std::vector<std::string>> cases = {
        {},                                                  // no root
        {"--root"},                                          // missing value
        {"--root", "r", "--bogus"},                          // unknown
        {"--root", "r", "--start", "sleep"},                 // bad choice
        {"--root", "r", "--garbage", "-1"},                  // negative
        {"--root", "r", "--garbage", "12x"},                 // trailing junk
        {"--root", "r", "--max-packet-words", "5"},          // no room for data
        {"--root", "r", "--devices", "0"},                   // no device
        {"--root", "r", "--fail-status", "0"},               // 0 is acceptance
        {"--root", "r", "--app-tty", "../x"},                // not a plain name
        {"--root", "r", "--version", "1\r\n2"},              // breaks the reply line
        {"--root", "r", "--paced=yes"},                      // flag with a value
        {"--root", "r", "--raw-texts", "--serial", "A\\x4"}, // cut escape
    };
    for (const auto& args : cases) {
        FwsimOptions options;
        std::string strError;
        EXPECT_FALSE(ParseFwsimOptions(args, options, strError))
            << (args.empty() ? "(none)" : args.back());
        EXPECT_FALSE(strError.empty());
    }
    FwsimOptions options;
    std::string strError;
    EXPECT_TRUE(ParseFwsimOptions({"--help"}, options, strError));
    EXPECT_TRUE(options.bHelp);
    EXPECT_TRUE(ParseFwsimOptions({"--version"}, options, strError));
    EXPECT_TRUE(options.bShowVersion);
}

TEST(FwsimOptions, RaisesTrailingNumbers) {
    EXPECT_EQ(RaiseTrailingNumber("ttyACM0", 0), "ttyACM0");
    EXPECT_EQ(RaiseTrailingNumber("ttyACM9", 2), "ttyACM11");
    EXPECT_EQ(RaiseTrailingNumber("1-1", 1), "1-2");
    EXPECT_EQ(RaiseTrailingNumber("1-2.3", 2), "1-2.5");
    EXPECT_EQ(RaiseTrailingNumber("ttyX", 1), "ttyX1");
}

#ifdef FWSIM_PATH
// fwsim run as its own process with its output on a pipe.
class FwsimProcess {
public:
    bool Start(const std::vector<std::string>& args) {
        int hPipe[2];
        if (pipe(hPipe) != 0) {
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, hPipe[1], 1);
        posix_spawn_file_actions_addclose(&actions, hPipe[0]);
        std::vector<std::string> all = {FWSIM_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& s : all) {
            argv.push_back(s.data());
        }
        argv.push_back(nullptr);
        const int nErr = posix_spawn(&m_pid, FWSIM_PATH, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(hPipe[1]);
        m_hOut = hPipe[0];
        return nErr == 0;
    }
    // One line of stdout, without its LF; "" after nTimeoutMs.
    std::string ReadLine(int nTimeoutMs) {
        std::string strLine;
        const auto tpDeadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
        for (;;) {
            const auto nLeft = std::chrono::ceil<std::chrono::milliseconds>(
                                   tpDeadline - std::chrono::steady_clock::now())
                                   .count();
            pollfd fd{m_hOut, POLLIN, 0};
            if (nLeft <= 0 || poll(&fd, 1, static_cast<int>(nLeft)) <= 0) {
                return "";
            }
            char c;
            if (read(m_hOut, &c, 1) != 1) {
                return "";
            }
            if (c == '\n') {
                return strLine;
            }
            strLine.push_back(c);
        }
    }
    // Sends the signal and waits for the exit status (-1 if it does not end in 5 s).
    int Stop(int nSignal) {
        kill(m_pid, nSignal);
        return WaitExit(5000);
    }
    // Waits up to nTimeoutMs for the program to end by itself; its exit status,
    // 128 + signal, or -1 while it still runs.
    int WaitExit(int nTimeoutMs) {
        for (int i = 0; i < nTimeoutMs / 10; ++i) {
            int nStatus = 0;
            if (waitpid(m_pid, &nStatus, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    ~FwsimProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_hOut >= 0) {
            close(m_hOut);
        }
    }

private:
    pid_t m_pid = -1;
    int m_hOut = -1;
};

TEST(FwsimProgram, PublishesTalksDownloadsAndExitsCleanlyOnSigint) {
    fwtest::CTempRoot root(false);
    const std::string strFlash = root.Path() + "/flash.bin";
    FwsimProcess fwsim;
    ASSERT_TRUE(fwsim.Start({"--root", root.Path(), "--app-restart-ms", "50", "--boot-restart-ms",
                             "50", "--flash-out", strFlash, "--version", "7.1"}));
    const std::string strNode = root.Path() + "/dev/ttyACM0";
    EXPECT_EQ(fwsim.ReadLine(5000),
              "device 1: " + strNode + " usb 1-1 \"AT91 USB to Serial Converter\"");
    test::HostLink host;
    ASSERT_TRUE(host.Open(strNode));
    ASSERT_TRUE(host.Write(std::string("~rv\r\n")));
    EXPECT_EQ(host.ReadLine(1000), "~Rv00007.1\r\n");
    ASSERT_TRUE(host.Write(std::string("~dboot\r\n")));
    EXPECT_EQ(host.ReadLine(1000), "~Dboot\r\n");
    ASSERT_TRUE(test::WaitForHangup(host, 2000));
    host.Close();
    // The boot loader comes back at the same node: reopen until it answers.
    const auto tpDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!host.Open(strNode)) {
        ASSERT_LT(std::chrono::steady_clock::now(), tpDeadline);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(test::Handshake(host));
    const std::vector<uint8_t> data = {0xC0, 0xFF, 0xEE};
    ASSERT_TRUE(host.Write(MakeHostDataPacket(0x108000, 0, data.data(), data.size())));
    ASSERT_EQ(host.ReadPacket(1000).size(), 16u);
    ASSERT_TRUE(host.Write(MakeHostFinish()));
    ASSERT_EQ(host.ReadPacket(1000).size(), 16u);
    ASSERT_TRUE(test::WaitForHangup(host, 2000));
    ASSERT_TRUE(test::WaitForPath(strFlash, true, 2000));
    std::ifstream file(strFlash, std::ios::binary);
    std::vector<uint8_t> image((std::istreambuf_iterator<char>(file)), {});
    ASSERT_EQ(image.size(), 0x40000u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), image.begin() + 0x8000));

    EXPECT_EQ(fwsim.Stop(SIGINT), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(strNode)));
    EXPECT_FALSE(fs::exists(fs::symlink_status(root.Path() + "/sys/class/tty/ttyACM0")));
}

TEST(FwsimProgram, SeveralDevicesAppearOneAfterAnother) {
    fwtest::CTempRoot root(false);
    FwsimProcess fwsim;
    ASSERT_TRUE(fwsim.Start(
        {"--root", root.Path(), "--devices", "2", "--plug-delay", "100", "--start", "boot"}));
    EXPECT_EQ(fwsim.ReadLine(5000),
              "device 1: " + root.Path() + "/dev/ttyACM0 usb 1-1 \"AT91 USB to Serial Converter\"");
    EXPECT_EQ(fwsim.ReadLine(5000),
              "device 2: " + root.Path() + "/dev/ttyACM1 usb 1-2 \"AT91 USB to Serial Converter\"");
    test::HostLink host;
    ASSERT_TRUE(host.Open(root.Path() + "/dev/ttyACM1"));
    ASSERT_TRUE(host.Write(test::StatusQuery()));
    EXPECT_EQ(host.Read(8, 1000).size(), 8u);
    EXPECT_EQ(fwsim.Stop(SIGTERM), 0);
}

TEST(FwsimProgram, BadOptionExitsWithTwo) {
    FwsimProcess fwsim;
    ASSERT_TRUE(fwsim.Start({"--root", "/nonexistent-never", "--fail-block"}));
    EXPECT_EQ(fwsim.WaitExit(5000), 2);
}
#endif

} // namespace
} // namespace fwsim
