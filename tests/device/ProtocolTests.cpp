// The command protocol and the block download over real pseudo-terminals: reply
// edge cases with a hand-written device side (CVirtualPort), and whole
// exchanges against the simulated device (CSimDevice).

#include "device/CBlockLoader.h"
#include "device/CGadgetLib.h"
#include "device/CommandProtocol.h"
#include "device/Packets.h"
#include "device/ProtocolTimings.h"
#include "serial/Clock.h"
#include "tests/support/CSimRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

using namespace fwup;
using fwsim::Personality;
using fwtest::CSimRig;
using fwtest::TestTimings;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Header(uint16_t nWord0, uint16_t nCode, uint16_t nWords) {
    Bytes packet(8 + 4u * nWords, 0);
    WriteLe16(packet.data(), nWord0);
    WriteLe16(packet.data() + 2, nCode);
    WriteLe16(packet.data() + 4, nWords);
    return packet;
}

Bytes Info(uint32_t nMaxWords) {
    Bytes packet = Header(0xF00D, kDevCodeInfo, 2);
    WriteLe32(packet.data() + 8, nMaxWords);
    return packet;
}

Bytes Reply(uint32_t dwEcho, uint32_t dwStatus) {
    Bytes packet = Header(0xF00D, 0x8001, 2);
    WriteLe32(packet.data() + 8, dwEcho);
    WriteLe32(packet.data() + 12, dwStatus);
    return packet;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// Whatever the host wrote, up to nMax bytes, collected until dwQuietMs pass without more.
Bytes HostWrote(fwsim::CVirtualPort& vport, size_t nMax = 65536, int nQuietMs = 150) {
    Bytes all;
    uint8_t buffer[4096];
    while (all.size() < nMax) {
        const ssize_t n = vport.Receive(buffer, sizeof buffer, nQuietMs);
        if (n <= 0) {
            break;
        }
        all.insert(all.end(), buffer, buffer + n);
    }
    return all;
}

// A hand-driven device port and the host's CComPort and link on it.
struct CHandPort {
    CSimRig rig;
    fwsim::CVirtualPort vport{rig.PortConfig()};
    std::unique_ptr<CComPort> pPort;
    std::unique_ptr<CDeviceLink> pLink;

    CHandPort() {
        EXPECT_TRUE(vport.Plug());
        pPort = std::make_unique<CComPort>(rig.WaitPortName(), 1024, 20480);
        pLink = std::make_unique<CDeviceLink>(pPort.get(), TestTimings());
        EXPECT_TRUE(pPort->IsOpen());
    }
    void Send(const std::string& strText) { ASSERT_TRUE(vport.Send(strText)); }
    void Send(const Bytes& bytes) { ASSERT_TRUE(vport.Send(bytes.data(), bytes.size())); }
};

std::vector<int> g_progress;
int RecordProgress(void*, int nPercent) {
    g_progress.push_back(nPercent);
    return 0;
}

// Runs a download of the given segments through a fresh CBlockLoader.
int RunDownload(CDeviceLink& link, const std::vector<SegmentDesc>& table, uint32_t dwAreaFlags) {
    g_progress.clear();
    CBlockLoader loader(link);
    loader.m_pfnProgress = &RecordProgress;
    loader.m_nTotal = 0;
    for (const SegmentDesc& segment : table) {
        loader.m_nTotal += segment.nLength;
    }
    if (SendCommand(link, kCmdAreaFlags, dwAreaFlags) != 0) {
        return -1;
    }
    return loader.Transfer(static_cast<int>(table.size()), table.data(), dwAreaFlags);
}

} // namespace

// The waits written out, not taken from the product's constants: the device's own
// numbers first, then this program's bounds beyond them.
TEST(ProtocolTimings, DefaultsAreTheDevicesOwn) {
    const ProtocolTimings t;
    const struct {
        const char* pszWait;
        uint32_t nActual;
        uint32_t nExpected;
    } rows[] = {
        {"command reply", t.nCommandMs, 3000},
        {"ready line", t.nReadyMs, 5000},
        {"pause before the boot loader", t.nBootPauseMs, 2000},
        {"boot loader's port returning", t.nBootReturnMs, 5000},
        {"port at the start of a job", t.nDetectOpenMs, 7000},
        {"one boot-loader packet", t.nPacketMs, 5000},
        {"info and go packets", t.nHandshakeMs, 15000},
        {"port going after the download", t.nGoneAfterMs, 30000},
        {"hang-up check slice", t.nHangupCheckMs, 250},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.nActual, row.nExpected) << row.pszWait;
    }
}

TEST(CommandReplies, VersionAndSerialForms) {
    CHandPort hand;
    CDeviceLink& link = *hand.pLink;

    hand.Send("~Rv00001.23\r\n");
    EXPECT_EQ(QueryVersion(link), "1.23");
    const Bytes command = HostWrote(hand.vport);
    EXPECT_EQ(std::string(command.begin(), command.end()), "~rv\r\n");

    hand.Send("~RS0000\r\n");
    EXPECT_EQ(QuerySerial(link), ""); // empty, not none

    hand.Send("~Rv0001.23\r\n");
    EXPECT_EQ(QueryVersion(link), std::nullopt);

    // The transaction stops at the first line end; what follows stays unread.
    hand.Send("~Rv00002.0\r\nEXTRA");
    EXPECT_EQ(QueryVersion(link), "2.0");
    ASSERT_TRUE(hand.pPort->WaitReadable(1000));
    char rest[16] = {};
    uint32_t nRead = sizeof rest;
    EXPECT_EQ(hand.pPort->Read(rest, nRead), 0u);
    EXPECT_EQ(std::string(rest, nRead), "EXTRA");
}

TEST(CommandReplies, FullBufferEndsTransactionWithoutLineEnd) {
    CHandPort hand;
    CDeviceLink& link = *hand.pLink;
    hand.Send(std::string(250, 'x'));
    char reply[kReplyBufferSize];
    uint32_t nCount = kReplyBufferSize;
    EXPECT_EQ(Transact(link, "~rv\r\n", 5, reply, nCount), 0);
    EXPECT_EQ(nCount, 199u);
    EXPECT_EQ(std::strlen(reply), 199u);
}

TEST(CommandReplies, ReplyWithoutLineEndTimesOut) {
    CHandPort hand;
    CDeviceLink& link = *hand.pLink;
    hand.Send("~Rv0000");
    const uint32_t dwStart = GetTickCount();
    EXPECT_EQ(QueryVersion(link), std::nullopt);
    EXPECT_GE(TicksSince(dwStart), link.Timings().nCommandMs);
}

TEST(CommandReplies, WriteOnClosedPortIsAnError) {
    CHandPort hand;
    hand.pPort->Close();
    CDeviceLink& link = *hand.pLink;
    char reply[kReplyBufferSize];
    uint32_t nCount = kReplyBufferSize;
    EXPECT_GT(Transact(link, "~rv\r\n", 5, reply, nCount), 0);
    EXPECT_EQ(nCount, 0u);
    uint32_t dwValue = 0;
    EXPECT_GT(PingBootLoader(link, dwValue), 0);
}

TEST(StatusQuery, ForeignRepliesAreSkipped) {
    CHandPort hand;
    CDeviceLink& link = *hand.pLink;
    hand.Send(Concat({Bytes{1, 2, 3, 4, 5, 6, 7, 8}, Bytes{0, 0, 0x0F, 1, 0, 0, 0, 0},
                      Bytes{0, 0, 0x0F, 0, 0x78, 0x56, 0x34, 0x12}}));
    uint32_t dwValue = 0;
    EXPECT_EQ(PingBootLoader(link, dwValue), 0);
    EXPECT_EQ(dwValue, 0x12345678u);
    EXPECT_EQ(HostWrote(hand.vport), (Bytes{0, 0, 0x0F, 0, 0, 0, 0, 0}));
}

TEST(StatusQuery, SilenceTimesOut) {
    CHandPort hand;
    CDeviceLink& link = *hand.pLink;
    uint32_t dwValue = 0;
    const uint32_t dwStart = GetTickCount();
    EXPECT_EQ(PingBootLoader(link, dwValue), -1);
    EXPECT_GE(TicksSince(dwStart), link.Timings().nCommandMs);
}

TEST(ReadyLine, BannerAndPlainLine) {
    CHandPort hand;
    GadgetChannel channel{hand.pLink.get()};
    CGadgetLib gadget;
    EXPECT_EQ(gadget.SetChannel(nullptr), "");
    hand.Send("xyz~e!ready,ABC\r\n");
    EXPECT_EQ(gadget.SetChannel(&channel), "ABC");
    hand.Send("hello\r\n");
    EXPECT_EQ(gadget.WaitReady(), "hello");
    EXPECT_TRUE(HostWrote(hand.vport).empty()); // listening writes nothing
}

TEST(PacketReceive, LengthsAndLimits) {
    CHandPort hand;
    CDeviceLink& link = *hand.pLink;
    uint8_t buffer[16];

    // 0x40 first: header alone whatever bytes 4-5 say; the next packet stays aligned.
    Bytes bare = {0x40, 0, 0x01, 0, 0xFF, 0xFF, 0, 0};
    hand.Send(Concat({bare, Reply(2, 9)}));
    uint32_t nCount = sizeof buffer;
    EXPECT_EQ(ReceivePacket(link, buffer, nCount), 0);
    EXPECT_EQ(nCount, 8u);
    EXPECT_EQ(LastPacketLength(link), 8u);
    nCount = 8; // longer than the caller's buffer: copied in part, consumed whole
    EXPECT_EQ(ReceivePacket(link, buffer, nCount), 1);
    EXPECT_EQ(nCount, 8u);
    EXPECT_EQ(LastPacketLength(link), 16u);
    EXPECT_EQ(ReadLe32(LastPacketData(link) + 12), 9u);

    // Over the 256-byte receive buffer: refused, never read into it.
    Bytes huge = Header(0xF00D, 0x8001, 100);
    hand.Send(huge);
    nCount = sizeof buffer;
    EXPECT_EQ(ReceivePacket(link, buffer, nCount, 500), -2);
    EXPECT_EQ(nCount, 0u);
    HostWrote(hand.vport);
    uint8_t drain[512];
    uint32_t nDrain = sizeof drain;
    hand.pPort->Read(drain, nDrain);

    // Half a packet, then silence: the deadline ends it.
    hand.Send(Bytes{0x0D, 0xF0, 0x01});
    const uint32_t dwStart = GetTickCount();
    nCount = sizeof buffer;
    EXPECT_EQ(ReceivePacket(link, buffer, nCount, 300), -1);
    EXPECT_GE(TicksSince(dwStart), 300u);

    // The device vanishes: a failed read, not an endless wait.
    hand.vport.Unplug();
    nCount = sizeof buffer;
    EXPECT_EQ(ReceivePacket(link, buffer, nCount, 3000), EIO);
    EXPECT_LT(TicksSince(dwStart), 2000u); // the hang-up ends the wait, not the deadline
}

TEST(Handshake, ProtocolErrors) {
    struct Case {
        const char* pszName;
        Bytes device;
        int nExpected;
    };
    const Bytes go = Header(0xF00D, kDevCodeGo, 0);
    const Bytes junk = Header(0xA55A, 0x7777, 1);
    Bytes longInfo = Header(0xF00D, kDevCodeInfo, 3);
    WriteLe32(longInfo.data() + 8, 64);
    // The download's codes are written out: traces and causes name them by number.
    const Case cases[] = {
        {"go before info", Concat({junk, go}), -10004},
        {"info without bytes 8-11", Concat({Header(0xF00D, kDevCodeInfo, 0), go}), -10003},
        {"bare info", Concat({Bytes{0x40, 0, 0x0B, 0x30, 2, 0, 0, 0}, go}), -10003},
        {"info of 20 bytes", Concat({longInfo, go}), -9999},
        {"L of 5", Concat({Info(5), go, Reply(0, 14)}), -10005},
        {"L too large for the length field", Concat({Info(70000), go, Reply(0, 14)}), -10005},
        {"handshake status 13", Concat({Info(64), go, Reply(0, 13)}), -10014},
        {"short handshake reply", Concat({Info(64), go, Header(0xF00D, 0x8001, 0)}), -10006},
        {"long handshake reply", Concat({Info(64), go, Header(0xF00D, 0x8001, 3)}), -9999},
        {"packet over 256 bytes", Concat({Header(0xF00D, kDevCodeInfo, 100), go}), -10002},
    };
    const uint8_t data[6] = {1, 2, 3, 4, 5, 6};
    const std::vector<SegmentDesc> table = {{0x108000, 6, data, 0}};
    for (const Case& c : cases) {
        CHandPort hand;
        hand.Send(c.device);
        EXPECT_EQ(RunDownload(*hand.pLink, table, kCodeAreaFlags), c.nExpected) << c.pszName;
        EXPECT_TRUE(g_progress.empty()) << c.pszName;
    }
}

TEST(Handshake, EndlessForeignPacketsDoNotHoldTheDownload) {
    CHandPort hand;
    std::atomic<bool> bStop{false};
    std::thread chatter([&] {
        const Bytes junk = Header(0xA55A, 0x7777, 0);
        while (!bStop && hand.vport.Send(junk.data(), junk.size())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    const uint32_t dwStart = GetTickCount();
    EXPECT_EQ(RunDownload(*hand.pLink, {}, kCodeAreaFlags), -10001);
    EXPECT_GE(TicksSince(dwStart), hand.pLink->Timings().nHandshakeMs);
    bStop = true;
    chatter.join();
}

TEST(Handshake, ScriptedDownloadPutsExactBytesOnTheLine) {
    CHandPort hand;
    const Bytes go = Header(0xF00D, kDevCodeGo, 0);
    const Bytes junk = Header(0xA55A, 0x7777, 0);
    // L = 6: four data bytes per block; six bytes go out as 4 + 2.
    hand.Send(
        Concat({junk, Info(6), junk, go, Reply(0, 14), Reply(1, 0), Reply(1, 0), Reply(2, 10)}));
    const uint8_t data[6] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
    const std::vector<SegmentDesc> table = {{0x108000, 6, data, 0}};
    EXPECT_EQ(RunDownload(*hand.pLink, table, kCodeAreaFlags), 0);
    EXPECT_EQ(g_progress, (std::vector<int>{66, 100}));

    const Bytes wire = HostWrote(hand.vport);
    const Bytes flags = {0x01, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x3E, 0x5C};
    const Bytes start = {0x01, 0x00, 0x00, 0xF0, 0x01, 0x00, 0x00, 0x00};
    // Written out from the data packet's layout: marker, code 1, length ceil(n/4) + 3,
    // address, CRC-32 (MSB first, start 0) over bytes 0-11 and the flags and data,
    // flags (area bit 0 of 0x5C3E0000, padding count in bits 1-2), data, zero padding.
    const Bytes first = {0x0D, 0xF0, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x80, 0x10, 0x00,
                         0xF0, 0x9E, 0xD1, 0x44, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xA1, 0xA2, 0xA3};
    const Bytes second = {0x0D, 0xF0, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x80, 0x10, 0x00,
                          0x12, 0xAD, 0x54, 0x03, 0x04, 0x00, 0x00, 0x00, 0xA4, 0xA5, 0x00, 0x00};
    const Bytes finish = {0x0D, 0xF0, 0x02, 0, 0, 0, 0, 0};
    EXPECT_EQ(wire, Concat({flags, flags, start, first, second, finish}));
}

TEST(Handshake, FinalReplyMustConfirm) {
    struct Case {
        uint32_t dwEcho, dwStatus;
        int nExpected;
    };
    const Case cases[] = {{2, 9, 0}, {2, 10, 0}, {3, 9, -9997}, {2, 0, -9997}};
    const Bytes go = Header(0xF00D, kDevCodeGo, 0);
    for (const Case& c : cases) {
        CHandPort hand;
        hand.Send(Concat({Info(64), go, Reply(0, 14), Reply(c.dwEcho, c.dwStatus)}));
        // No segments: handshake and finish only.
        EXPECT_EQ(RunDownload(*hand.pLink, {}, kCodeAreaFlags), c.nExpected)
            << c.dwEcho << "/" << c.dwStatus;
        const Bytes wire = HostWrote(hand.vport);
        ASSERT_EQ(wire.size(), 32u); // three commands and the finish, no data packet
        EXPECT_EQ(Bytes(wire.begin() + 24, wire.end()), (Bytes{0x0D, 0xF0, 2, 0, 0, 0, 0, 0}));
    }
}

// ---- against the simulated device ------------------------------------------

TEST(SimDevice, ApplicationQueriesAndReadyLine) {
    CSimRig rig;
    fwsim::CSimDevice device(rig.DeviceConfig(Personality::Application));
    ASSERT_TRUE(device.Start());
    CComPort port(rig.WaitPortName(), 1024, 20480);
    ASSERT_TRUE(port.IsOpen());
    CDeviceLink link(&port, TestTimings());
    EXPECT_EQ(QueryVersion(link), "2.0.0.1");
    EXPECT_EQ(QuerySerial(link), "SN00000001");
    GadgetChannel channel{&link};
    CGadgetLib gadget;
    EXPECT_EQ(gadget.SetChannel(&channel), "TARNIC");
}

TEST(SimDevice, RefusedBootEntryLeavesPortOpen) {
    CSimRig rig;
    auto config = rig.DeviceConfig(Personality::Application);
    config.faults.bWrongBootReply = true;
    fwsim::CSimDevice device(config);
    ASSERT_TRUE(device.Start());
    CComPort port(rig.WaitPortName(), 1024, 20480);
    CDeviceLink link(&port, TestTimings());
    UpdateRequest request;
    request.nBootInfo = 5;
    EXPECT_EQ(EnterBootLoader(link, request), -1);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(request.nBootInfo, 5);
}

TEST(SimDevice, UnansweredBootEntryStillReachesTheBootLoader) {
    CSimRig rig;
    auto config = rig.DeviceConfig(Personality::Application);
    config.faults.bNoBootReply = true;
    fwsim::CSimDevice device(config);
    ASSERT_TRUE(device.Start());
    CComPort port(rig.WaitPortName(), 1024, 20480);
    CDeviceLink link(&port, TestTimings());
    UpdateRequest request;
    EXPECT_EQ(EnterBootLoader(link, request), 0);
    EXPECT_EQ(request.nBootInfo, 0x01020304);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(device.CurrentPersonality(), Personality::BootLoader);
}

TEST(SimDevice, BootLoaderDetectedAndImageDownloaded) {
    CSimRig rig;
    fwsim::CSimDevice device(rig.DeviceConfig(Personality::BootLoader));
    ASSERT_TRUE(device.Start());
    CComPort port(rig.WaitPortName(), 1024, 20480);
    ASSERT_TRUE(port.IsOpen());
    CDeviceLink link(&port, TestTimings());
    UpdateRequest request;
    request.optVersion = "stale";
    request.status.optSerial = "previous";
    EXPECT_EQ(DetectDevice(link, request), 0);
    EXPECT_EQ(request.nBootInfo, 0x01020304);
    EXPECT_EQ(request.optVersion, std::nullopt);
    EXPECT_EQ(request.status.optSerial, "previous");
    EXPECT_TRUE(port.IsOpen()); // handed in open, stays open

    std::vector<uint8_t> image(600);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 13 + 5);
    }
    EXPECT_EQ(RunDownload(link, {{0x108000, 600, image.data(), 0}}, kCodeAreaFlags), 0);
    EXPECT_EQ(g_progress, (std::vector<int>{39, 78, 100}));
    ASSERT_TRUE(device.WaitForDownloads(1, 2000));
    EXPECT_EQ(device.FlashAt(0x108000, 600), image);
}

struct DownloadFaultCase {
    const char* pszName;
    fwsim::SimFaults faults;
    uint32_t nMaxWords;
    int nExpected;
    std::vector<int> progress; // of a 600-byte image
};

void PrintTo(const DownloadFaultCase& c, std::ostream* pStream) {
    *pStream << c.pszName;
}

fwsim::SimFaults Faults(void (*pfnSet)(fwsim::SimFaults&)) {
    fwsim::SimFaults faults;
    pfnSet(faults);
    return faults;
}

class DownloadFaults : public testing::TestWithParam<DownloadFaultCase> {};

TEST_P(DownloadFaults, EndWithTheirCodes) {
    const DownloadFaultCase& c = GetParam();
    std::vector<uint8_t> image(600);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i ^ 0x5A);
    }
    CSimRig rig;
    auto config = rig.DeviceConfig(Personality::BootLoader);
    config.faults = c.faults;
    config.dwMaxPacketWords = c.nMaxWords;
    fwsim::CSimDevice device(config);
    ASSERT_TRUE(device.Start());
    CComPort port(rig.WaitPortName(), 1024, 20480);
    ASSERT_TRUE(port.IsOpen());
    CDeviceLink link(&port, TestTimings());
    EXPECT_EQ(RunDownload(link, {{0x108000, 600, image.data(), 0}}, kCodeAreaFlags), c.nExpected);
    if (c.nMaxWords == 6) {
        EXPECT_EQ(g_progress.size(), 150u); // 4 bytes a block
        EXPECT_EQ(g_progress.back(), 100);
    } else {
        EXPECT_EQ(g_progress, c.progress);
    }
    if (c.nExpected == 0) {
        ASSERT_TRUE(device.WaitForDownloads(1, 2000));
        EXPECT_EQ(device.FlashAt(0x108000, 600), image);
    } else {
        EXPECT_EQ(device.DownloadsFinished(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    SimDevice, DownloadFaults,
    testing::Values(
        DownloadFaultCase{"Status2",
                          Faults([](auto& f) { f.nFailBlock = 2, f.dwFailStatus = 2; }),
                          64,
                          -9978,
                          {39}},
        DownloadFaultCase{"Status5",
                          Faults([](auto& f) { f.nFailBlock = 1, f.dwFailStatus = 5; }),
                          64,
                          -9979,
                          {}},
        DownloadFaultCase{"Status7",
                          Faults([](auto& f) { f.nFailBlock = 3, f.dwFailStatus = 7; }),
                          64,
                          -9997,
                          {39, 78}},
        DownloadFaultCase{
            "InfoOf20Bytes", Faults([](auto& f) { f.bLongInfoPacket = true; }), 64, -9999, {}},
        DownloadFaultCase{"FinishNotConfirmed",
                          Faults([](auto& f) { f.bBadFinalReply = true; }),
                          64,
                          -9997,
                          {39, 78, 100}},
        DownloadFaultCase{"UnpluggedAtBlock2",
                          Faults([](auto& f) { f.nUnplugAtBlock = 2; }),
                          64,
                          EIO - 10000,
                          {39}},
        DownloadFaultCase{"SilentFromBlock3",
                          Faults([](auto& f) { f.nSilentAtBlock = 3; }),
                          64,
                          -10001,
                          {39, 78}},
        DownloadFaultCase{"NoiseBeforeReplies",
                          Faults([](auto& f) { f.nGarbageBytes = 24; }),
                          64,
                          0,
                          {39, 78, 100}},
        DownloadFaultCase{"SmallestPacket", fwsim::SimFaults{}, 6, 0, {}}),
    [](const testing::TestParamInfo<DownloadFaultCase>& info) { return info.param.pszName; });
