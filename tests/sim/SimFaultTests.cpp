// Every fault of the simulated device, each checked on the line as the host
// sees it. One table row per fault: how to configure it and what must show.
#include "SimTestSupport.h"
#include "sim/SimPackets.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace fwsim {
namespace {

using test::HostLink;
using test::SimBench;
using Clock = std::chrono::steady_clock;

// Sends data packets of 4 bytes each; returns the replies' status words (until
// the first missing reply).
std::vector<uint32_t> SendBlocks(HostLink& host, int nBlocks, int nTimeoutMs = 500) {
    std::vector<uint32_t> statuses;
    for (int i = 0; i < nBlocks; ++i) {
        const uint8_t data[4] = {static_cast<uint8_t>(i), 1, 2, 3};
        if (!host.Write(MakeHostDataPacket(0x108000 + 4u * i, 0, data, 4))) {
            break;
        }
        const std::vector<uint8_t> reply = host.ReadPacket(nTimeoutMs);
        if (reply.size() != 16) {
            break;
        }
        statuses.push_back(GetLe32(reply.data() + 12));
    }
    return statuses;
}

std::vector<uint8_t> Bytes(const std::string& strText) {
    return {strText.begin(), strText.end()};
}

void ExpectVanishesAndReturns(SimBench& bench, Personality eBack) {
    EXPECT_TRUE(test::WaitForHangup(bench.Host(), 2000));
    EXPECT_TRUE(bench.WaitForPersonality(eBack, 2000));
}

struct FaultCase {
    const char* pszName;
    Personality eStart;
    std::function<void(SimFaults&)> configure;
    std::function<void(SimBench&)> check;
};

class SimFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SimFaultTest, ShowsOnTheLine) {
    const FaultCase& c = GetParam();
    SimDeviceConfig config = test::FastConfig(c.eStart);
    c.configure(config.faults);
    SimBench bench(config);
    ASSERT_TRUE(bench.Start());
    c.check(bench);
}

const FaultCase kFaultCases[] = {
    {"NoVersionReply", Personality::Application, [](SimFaults& f) { f.bNoVersionReply = true; },
     [](SimBench& b) {
         ASSERT_TRUE(b.Host().Write(std::string("~rv\r\n")));
         EXPECT_TRUE(b.Host().Silent(300));
         ASSERT_TRUE(b.Host().Write(std::string("~rS\r\n")));
         EXPECT_EQ(b.Host().ReadLine(1000), "~RS0000SN00000001\r\n");
     }},
    {"WrongBootReply", Personality::Application, [](SimFaults& f) { f.bWrongBootReply = true; },
     [](SimBench& b) {
         ASSERT_TRUE(b.Host().Write(std::string("~dboot\r\n")));
         EXPECT_EQ(b.Host().ReadLine(1000), "~Dnope\r\n");
         std::this_thread::sleep_for(std::chrono::milliseconds(200)); // 4x the restart time
         EXPECT_TRUE(b.Device().IsPlugged());
         EXPECT_EQ(b.Device().CurrentPersonality(), Personality::Application);
         ASSERT_TRUE(b.Host().Write(std::string("~rv\r\n")));
         EXPECT_EQ(b.Host().ReadLine(1000), "~Rv00002.0.0.1\r\n");
     }},
    {"NoBootReply", Personality::Application, [](SimFaults& f) { f.bNoBootReply = true; },
     [](SimBench& b) {
         ASSERT_TRUE(b.Host().Write(std::string("~dboot\r\n")));
         EXPECT_TRUE(test::WaitForHangup(b.Host(), 2000));
         EXPECT_TRUE(b.WaitForPersonality(Personality::BootLoader, 2000));
         ASSERT_TRUE(b.Reconnect());
         ASSERT_TRUE(b.Host().Write(test::StatusQuery()));
         EXPECT_EQ(b.Host().Read(8, 1000).size(), 8u);
     }},
    {"NoBootReplySendsNothing", Personality::Application,
     [](SimFaults& f) { f.bNoBootReply = true; },
     [](SimBench& b) {
         ASSERT_TRUE(b.Host().Write(std::string("~dboot\r\n")));
         // Nothing at all arrives before the hang-up.
         pollfd fd{b.Host().Fd(), POLLIN, 0};
         ASSERT_EQ(poll(&fd, 1, 2000), 1);
         uint8_t byte;
         EXPECT_LE(read(b.Host().Fd(), &byte, 1), 0);
     }},
    {"SilentBootLoader", Personality::Application, [](SimFaults& f) { f.bBootLoaderSilent = true; },
     [](SimBench& b) {
         ASSERT_TRUE(b.Host().Write(std::string("~dboot\r\n")));
         EXPECT_EQ(b.Host().ReadLine(1000), "~Dboot\r\n");
         ExpectVanishesAndReturns(b, Personality::BootLoader);
         ASSERT_TRUE(b.Reconnect());
         ASSERT_TRUE(b.Host().Write(test::StatusQuery()));
         EXPECT_TRUE(b.Host().Silent(300));
         EXPECT_FALSE(test::Handshake(b.Host()));
     }},
    {"NeverReturns", Personality::Application, [](SimFaults& f) { f.bNeverReturns = true; },
     [](SimBench& b) {
         ASSERT_TRUE(b.Host().Write(std::string("~dboot\r\n")));
         EXPECT_EQ(b.Host().ReadLine(1000), "~Dboot\r\n");
         EXPECT_TRUE(test::WaitForHangup(b.Host(), 2000));
         std::this_thread::sleep_for(std::chrono::milliseconds(300)); // 6x the restart time
         EXPECT_FALSE(b.Device().IsPlugged());
         EXPECT_FALSE(test::WaitForPath(b.Root() + "/sys/class/tty/ttyACM0", true, 0));
     }},
    {"FailBlockStatus2", Personality::BootLoader,
     [](SimFaults& f) {
         f.nFailBlock = 2;
         f.dwFailStatus = 2;
     },
     [](SimBench& b) {
         ASSERT_TRUE(test::Handshake(b.Host()));
         EXPECT_EQ(SendBlocks(b.Host(), 3), (std::vector<uint32_t>{0, 2, 0}));
         // The refused block was not written.
         EXPECT_EQ(b.Device().FlashAt(0x108004, 4), std::vector<uint8_t>(4, 0xFF));
     }},
    {"FailBlockStatus5", Personality::BootLoader,
     [](SimFaults& f) {
         f.nFailBlock = 1;
         f.dwFailStatus = 5;
     },
     [](SimBench& b) {
         ASSERT_TRUE(test::Handshake(b.Host()));
         EXPECT_EQ(SendBlocks(b.Host(), 2), (std::vector<uint32_t>{5, 0}));
     }},
    {"FailBlockStatus7", Personality::BootLoader,
     [](SimFaults& f) {
         f.nFailBlock = 3;
         f.dwFailStatus = 7;
     },
     [](SimBench& b) {
         ASSERT_TRUE(test::Handshake(b.Host()));
         EXPECT_EQ(SendBlocks(b.Host(), 3), (std::vector<uint32_t>{0, 0, 7}));
         // A new handshake starts the block count again.
         ASSERT_TRUE(test::Handshake(b.Host()));
         EXPECT_EQ(SendBlocks(b.Host(), 3), (std::vector<uint32_t>{0, 0, 7}));
     }},
    {"LongInfoPacket", Personality::BootLoader, [](SimFaults& f) { f.bLongInfoPacket = true; },
     [](SimBench& b) {
         ASSERT_TRUE(b.Host().Write(MakeHostCommand(kCodeAreaFlags, 0x5C3E0000)));
         ASSERT_TRUE(b.Host().Write(MakeHostCommand(kCodeBegin, 1)));
         const std::vector<uint8_t> info = b.Host().ReadPacket(1000);
         ASSERT_EQ(info.size(), 20u);
         EXPECT_EQ(GetLe16(info.data() + 2), kCodeInfo);
         EXPECT_EQ(GetLe16(info.data() + 4), 3u);
     }},
    {"BadFinalReply", Personality::BootLoader, [](SimFaults& f) { f.bBadFinalReply = true; },
     [](SimBench& b) {
         ASSERT_TRUE(test::Handshake(b.Host()));
         ASSERT_EQ(SendBlocks(b.Host(), 1), std::vector<uint32_t>{0});
         ASSERT_TRUE(b.Host().Write(MakeHostFinish()));
         const std::vector<uint8_t> reply = b.Host().ReadPacket(1000);
         ASSERT_EQ(reply.size(), 16u);
         EXPECT_EQ(GetLe32(reply.data() + 8), 3u);
         EXPECT_EQ(GetLe32(reply.data() + 12), 9u);
         EXPECT_EQ(b.Device().DownloadsFinished(), 0);
     }},
    {"SilentFromBlock2", Personality::BootLoader, [](SimFaults& f) { f.nSilentAtBlock = 2; },
     [](SimBench& b) {
         ASSERT_TRUE(test::Handshake(b.Host()));
         EXPECT_EQ(SendBlocks(b.Host(), 3, 300), std::vector<uint32_t>{0});
         ASSERT_TRUE(b.Host().Write(test::StatusQuery()));
         ASSERT_TRUE(b.Host().Write(MakeHostFinish()));
         EXPECT_TRUE(b.Host().Silent(300));
         EXPECT_TRUE(b.Device().IsPlugged());
     }},
    {"UnplugAtBlock2", Personality::BootLoader, [](SimFaults& f) { f.nUnplugAtBlock = 2; },
     [](SimBench& b) {
         ASSERT_TRUE(test::Handshake(b.Host()));
         EXPECT_EQ(SendBlocks(b.Host(), 2), std::vector<uint32_t>{0});
         EXPECT_TRUE(test::WaitForHangup(b.Host(), 1000));
         EXPECT_FALSE(b.Device().IsPlugged());
         std::this_thread::sleep_for(std::chrono::milliseconds(200));
         EXPECT_FALSE(b.Device().IsPlugged()); // a pulled cable stays pulled
     }},
    {"StayAfterFinish", Personality::BootLoader, [](SimFaults& f) { f.dwStayAfterFinishMs = 400; },
     [](SimBench& b) {
         ASSERT_TRUE(test::Handshake(b.Host()));
         ASSERT_TRUE(b.Host().Write(MakeHostFinish()));
         const auto tpReply = Clock::now();
         ASSERT_EQ(b.Host().ReadPacket(1000).size(), 16u);
         // The stay is measured at the hang-up itself, not sampled after a sleep.
         EXPECT_TRUE(test::WaitForHangup(b.Host(), 2000));
         EXPECT_GE(Clock::now() - tpReply, std::chrono::milliseconds(390));
         EXPECT_TRUE(b.WaitForPersonality(Personality::Application, 2000));
     }},
    {"GarbageBeforeBootLoaderPackets", Personality::BootLoader,
     [](SimFaults& f) { f.nGarbageBytes = 12; },
     [](SimBench& b) {
         // Status query: two 8-byte junk packets, then the reply.
         ASSERT_TRUE(b.Host().Write(test::StatusQuery()));
         const std::vector<uint8_t> bytes = b.Host().Read(24, 1000);
         ASSERT_EQ(bytes.size(), 24u);
         // Junk: code 0x0BAD at bytes 2-3, no payload; then the status reply: word 0,
         // code 15, the status value 0x01020304, all little-endian.
         const std::vector<uint8_t> junk = {0x5A, 0xA5, 0xAD, 0x0B, 0x00, 0x00, 0x5A, 0xA5};
         EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8), junk);
         EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 8, bytes.begin() + 16), junk);
         EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 16, bytes.end()),
                   (std::vector<uint8_t>{0x00, 0x00, 0x0F, 0x00, 0x04, 0x03, 0x02, 0x01}));
         // Handshake: junk before info and go only; a skipping host still succeeds.
         ASSERT_TRUE(b.Host().Write(MakeHostCommand(kCodeAreaFlags, 0x5C3E0000)));
         ASSERT_TRUE(b.Host().Write(MakeHostCommand(kCodeBegin, 1)));
         std::vector<uint16_t> codes;
         for (int i = 0; i < 7; ++i) {
             const std::vector<uint8_t> packet = b.Host().ReadPacket(1000);
             ASSERT_GE(packet.size(), 8u);
             codes.push_back(GetLe16(packet.data() + 2));
         }
         EXPECT_EQ(codes, (std::vector<uint16_t>{0x0BAD, 0x0BAD, kCodeInfo, 0x0BAD, 0x0BAD, kCodeGo,
                                                 0x8000 | kCodeBegin}));
         // Block replies stay clean.
         EXPECT_EQ(SendBlocks(b.Host(), 1), std::vector<uint32_t>{0});
     }},
    {"GarbageBeforeReadyLine", Personality::Application, [](SimFaults& f) { f.nGarbageBytes = 5; },
     [](SimBench& b) {
         ASSERT_TRUE(b.Host().Write(std::string("~rv\r\n")));
         EXPECT_EQ(b.Host().ReadLine(1000), "~Rv00002.0.0.1\r\n"); // replies stay clean
         ASSERT_TRUE(b.Host().Write(std::string("~rS\r\n")));
         EXPECT_EQ(b.Host().ReadLine(1000), "~RS0000SN00000001\r\n");
         EXPECT_EQ(b.Host().ReadLine(1000), "#%&*+~e!ready,TARNIC\r\n");
     }},
    {"DropAtOnce", Personality::Application, [](SimFaults& f) { f.bDropAtOnce = true; },
     [](SimBench& b) {
         // The host never reads "~Dboot": a polite device would wait 250 ms for it
         // to do so before it drops off; this one goes at once.
         const auto tpSent = Clock::now();
         ASSERT_TRUE(b.Host().Write(std::string("~dboot\r\n")));
         EXPECT_TRUE(test::WaitForPath(b.Root() + "/sys/class/tty/ttyACM0", false, 2000));
         EXPECT_LT(Clock::now() - tpSent, std::chrono::milliseconds(250));
         EXPECT_TRUE(b.WaitForPersonality(Personality::BootLoader, 2000));
     }},
    {"NoiseAtPlug", Personality::Application, [](SimFaults& f) { f.nNoiseAtPlug = 12; },
     [](SimBench& b) {
         // Waiting before the host has asked anything, and again after the restart.
         EXPECT_EQ(b.Host().Read(12, 1000), Bytes("#%&*+=?@$!#%"));
         ASSERT_TRUE(b.Host().Write(std::string("~rv\r\n")));
         EXPECT_EQ(b.Host().ReadLine(1000), "~Rv00002.0.0.1\r\n");
         ASSERT_TRUE(b.Host().Write(std::string("~dboot\r\n")));
         EXPECT_EQ(b.Host().ReadLine(1000), "~Dboot\r\n");
         ExpectVanishesAndReturns(b, Personality::BootLoader);
         ASSERT_TRUE(b.Reconnect());
         EXPECT_EQ(b.Host().Read(12, 1000), Bytes("#%&*+=?@$!#%"));
     }},
    {"SlowReplies", Personality::Application, [](SimFaults& f) { f.dwReplyDelayMs = 250; },
     [](SimBench& b) {
         const auto tpStart = Clock::now();
         ASSERT_TRUE(b.Host().Write(std::string("~rv\r\n")));
         EXPECT_EQ(b.Host().ReadLine(2000), "~Rv00002.0.0.1\r\n");
         EXPECT_GE(Clock::now() - tpStart, std::chrono::milliseconds(245));
     }},
    {"SlowBootLoaderReplies", Personality::BootLoader, [](SimFaults& f) { f.dwReplyDelayMs = 250; },
     [](SimBench& b) {
         const auto tpStart = Clock::now();
         ASSERT_TRUE(b.Host().Write(test::StatusQuery()));
         EXPECT_EQ(b.Host().Read(8, 2000).size(), 8u);
         EXPECT_GE(Clock::now() - tpStart, std::chrono::milliseconds(245));
     }},
};

INSTANTIATE_TEST_SUITE_P(Faults, SimFaultTest, ::testing::ValuesIn(kFaultCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                             return std::string(info.param.pszName);
                         });

} // namespace
} // namespace fwsim
