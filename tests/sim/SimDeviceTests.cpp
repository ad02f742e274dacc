// The simulated device's two personalities, driven byte by byte from the host's
// side of the pseudo-terminal.
#include "HostLink.h"
#include "SimTestSupport.h"
#include "sim/CSimDevice.h"
#include "sim/SimPackets.h"
#include "tests/support/CTempRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numeric>

namespace fwsim {
namespace {

namespace fs = std::filesystem;
using test::HostLink;

TEST(SimApplication, AnswersVersionAndSerialThenSendsTheReadyLine) {
    test::SimBench bench;
    ASSERT_TRUE(bench.Start());
    HostLink& host = bench.Host();
    ASSERT_TRUE(host.Write(std::string("~rv\r\n")));
    EXPECT_EQ(host.ReadLine(1000), "~Rv00002.0.0.1\r\n");
    ASSERT_TRUE(host.Write(std::string("~rS\r\n")));
    EXPECT_EQ(host.ReadLine(1000), "~RS0000SN00000001\r\n");
    EXPECT_EQ(host.ReadLine(2000), "~e!ready,TARNIC\r\n");
    EXPECT_TRUE(host.Silent(100)); // one ready line per serial query
}

TEST(SimApplication, IgnoresTheStatusQueryAndJunk) {
    test::SimBench bench;
    ASSERT_TRUE(bench.Start());
    HostLink& host = bench.Host();
    ASSERT_TRUE(host.Write(test::StatusQuery()));
    EXPECT_TRUE(host.Silent(300));
    // Junk glued to a command: the parser resynchronises on '~'.
    ASSERT_TRUE(host.Write(std::vector<uint8_t>{0xFF, 0x00, 0x0D, 0x0A, 'x', 0x7E, 'q'}));
    ASSERT_TRUE(host.Write(std::string("\r\n~rv\r\n")));
    EXPECT_EQ(host.ReadLine(1000), "~Rv00002.0.0.1\r\n");
    ASSERT_TRUE(host.Write(std::string("~unknown\r\n")));
    EXPECT_TRUE(host.Silent(100));
}

TEST(SimApplication, ACommandBeforeTheReadyLineCancelsIt) {
    SimDeviceConfig config = test::FastConfig();
    config.dwReadyDelayMs = 200;
    test::SimBench bench(config);
    ASSERT_TRUE(bench.Start());
    HostLink& host = bench.Host();
    ASSERT_TRUE(host.Write(std::string("~rS\r\n")));
    EXPECT_EQ(host.ReadLine(1000), "~RS0000SN00000001\r\n");
    ASSERT_TRUE(host.Write(std::string("~rv\r\n")));
    EXPECT_EQ(host.ReadLine(1000), "~Rv00002.0.0.1\r\n");
    EXPECT_TRUE(host.Silent(400));
}

TEST(SimApplication, DbootRestartsIntoTheBootLoader) {
    SimDeviceConfig config = test::FastConfig();
    config.strBootTty = "ttyACM1";
    config.strBootProduct = "AT91 Boot";
    test::SimBench bench(config);
    ASSERT_TRUE(bench.Start());
    HostLink& host = bench.Host();
    const std::string strAppNode = bench.Device().DevicePath();
    ASSERT_TRUE(host.Write(std::string("~dboot\r\n")));
    EXPECT_EQ(host.ReadLine(1000).rfind("~Dboot", 0), 0u);
    ASSERT_TRUE(test::WaitForPath(strAppNode, false, 2000));
    const std::string strBootNode = bench.Root() + "/dev/ttyACM1";
    ASSERT_TRUE(test::WaitForPath(strBootNode, true, 2000));
    EXPECT_EQ(bench.Device().CurrentPersonality(), Personality::BootLoader);
    EXPECT_EQ(bench.Device().DevicePath(), strBootNode);
    EXPECT_EQ(test::ReadProduct(bench.Root(), "1-1"), "AT91 Boot");
    ASSERT_TRUE(bench.Reconnect());
    ASSERT_TRUE(bench.Host().Write(test::StatusQuery()));
    EXPECT_EQ(bench.Host().Read(8, 1000),
              (std::vector<uint8_t>{0, 0, 0x0F, 0, 0x04, 0x03, 0x02, 0x01}));
    // The boot loader slides over text such as a second "~dboot" and stays.
    ASSERT_TRUE(bench.Host().Write(std::string("~dboot\r\n")));
    EXPECT_TRUE(bench.Host().Silent(200));
    EXPECT_TRUE(bench.Device().IsPlugged());
    ASSERT_TRUE(bench.Host().Write(test::StatusQuery()));
    EXPECT_EQ(bench.Host().Read(8, 1000).size(), 8u);
}

TEST(SimBootLoader, HandshakeGivesInfoGoAndReply) {
    SimDeviceConfig config = test::FastConfig(Personality::BootLoader);
    config.dwMaxPacketWords = 64;
    test::SimBench bench(config);
    ASSERT_TRUE(bench.Start());
    HostLink& host = bench.Host();
    const std::vector<uint8_t> flags = {0x01, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x3E, 0x5C};
    ASSERT_TRUE(host.Write(flags));
    ASSERT_TRUE(host.Write(flags));
    EXPECT_TRUE(host.Silent(100)); // the flags word alone is not answered
    ASSERT_TRUE(host.Write(std::vector<uint8_t>{0x01, 0x00, 0x00, 0xF0, 0x01, 0x00, 0x00, 0x00}));
    const std::vector<uint8_t> info = host.ReadPacket(1000);
    ASSERT_EQ(info.size(), 16u);
    EXPECT_EQ(GetLe16(info.data() + 2), 0x300Bu);
    EXPECT_EQ(GetLe32(info.data() + 8), 64u);
    const std::vector<uint8_t> go = host.ReadPacket(1000);
    ASSERT_EQ(go.size(), 8u);
    EXPECT_EQ(GetLe16(go.data() + 2), 1u);
    const std::vector<uint8_t> reply = host.ReadPacket(1000);
    ASSERT_EQ(reply.size(), 16u);
    EXPECT_EQ(GetLe32(reply.data() + 12), 14u);
    EXPECT_TRUE(host.Silent(50));
}

TEST(SimBootLoader, SixHundredByteSegmentLandsInFlash) {
    test::SimBench bench(test::FastConfig(Personality::BootLoader));
    ASSERT_TRUE(bench.Start());
    ASSERT_TRUE(test::Handshake(bench.Host()));
    std::vector<uint8_t> image(600);
    std::iota(image.begin(), image.end(), uint8_t{7});
    struct Block {
        size_t nOffset;
        size_t nLength;
        uint32_t dwAddress;
        uint16_t wLengthField;
    };
    const Block blocks[] = {
        {0, 236, 0x108000, 62}, {236, 236, 0x1080EC, 62}, {472, 128, 0x1081D8, 35}};
    for (const Block& block : blocks) {
        const std::vector<uint8_t> packet = MakeHostDataPacket(
            block.dwAddress, 0x5C3E0000, image.data() + block.nOffset, block.nLength);
        ASSERT_EQ(GetLe16(packet.data() + 4), block.wLengthField);
        ASSERT_LE(packet.size(), 256u);
        ASSERT_TRUE(bench.Host().Write(packet));
        const std::vector<uint8_t> reply = bench.Host().ReadPacket(1000);
        ASSERT_EQ(reply.size(), 16u);
        EXPECT_EQ(GetLe32(reply.data() + 12), 0u) << std::hex << block.dwAddress;
    }
    EXPECT_EQ(bench.Device().FlashAt(0x108000, 600), image);
    EXPECT_EQ(bench.Device().FlashAt(0x108000 + 600, 4), std::vector<uint8_t>(4, 0xFF));
    EXPECT_EQ(bench.Device().FlashAt(0x107FFC, 4), std::vector<uint8_t>(4, 0xFF));
}

TEST(SimBootLoader, ThreeByteBlockWithOnePaddingByte) {
    test::SimBench bench(test::FastConfig(Personality::BootLoader));
    ASSERT_TRUE(bench.Start());
    ASSERT_TRUE(test::Handshake(bench.Host()));
    const uint8_t data[3] = {0x11, 0x22, 0x33};
    const std::vector<uint8_t> packet = MakeHostDataPacket(0x108010, 0x5C3E0000, data, 3);
    ASSERT_EQ(GetLe16(packet.data() + 4), 4u);
    ASSERT_EQ(packet[16], 0x02);
    ASSERT_TRUE(bench.Host().Write(packet));
    const std::vector<uint8_t> reply = bench.Host().ReadPacket(1000);
    ASSERT_EQ(reply.size(), 16u);
    EXPECT_EQ(GetLe32(reply.data() + 12), 0u);
    // The padding byte is not written: flash keeps its erased 0xFF there.
    EXPECT_EQ(bench.Device().FlashAt(0x108010, 4), (std::vector<uint8_t>{0x11, 0x22, 0x33, 0xFF}));
}

TEST(SimBootLoader, RefusesBadPacketsWithStatusSeven) {
    test::SimBench bench(test::FastConfig(Personality::BootLoader));
    ASSERT_TRUE(bench.Start());
    HostLink& host = bench.Host();
    const std::vector<uint8_t> data(16, 0x42);
    // A data packet before the handshake is refused.
    ASSERT_TRUE(host.Write(MakeHostDataPacket(0x108000, 0, data.data(), data.size())));
    std::vector<uint8_t> reply = host.ReadPacket(1000);
    ASSERT_EQ(reply.size(), 16u);
    EXPECT_EQ(GetLe32(reply.data() + 12), kStatusBadPacket);

    ASSERT_TRUE(test::Handshake(host));
    std::vector<uint8_t> packet = MakeHostDataPacket(0x108000, 0, data.data(), data.size());
    packet[12] ^= 0x01; // CRC
    ASSERT_TRUE(host.Write(packet));
    reply = host.ReadPacket(1000);
    ASSERT_EQ(reply.size(), 16u);
    EXPECT_EQ(GetLe32(reply.data() + 12), kStatusBadPacket);
    EXPECT_EQ(bench.Device().FlashAt(0x108000, 16), std::vector<uint8_t>(16, 0xFF));

    // A length field that promises more than ever comes: refused after a pause.
    packet = MakeHostDataPacket(0x108000, 0, data.data(), data.size());
    packet[4] += 2;
    ASSERT_TRUE(host.Write(packet));
    reply = host.ReadPacket(3000);
    ASSERT_EQ(reply.size(), 16u);
    EXPECT_EQ(GetLe32(reply.data() + 12), kStatusBadPacket);

    // Then a good packet is accepted again.
    ASSERT_TRUE(host.Write(MakeHostDataPacket(0x108000, 0, data.data(), data.size())));
    reply = host.ReadPacket(1000);
    ASSERT_EQ(reply.size(), 16u);
    EXPECT_EQ(GetLe32(reply.data() + 12), 0u);
}

TEST(SimBootLoader, FinishIsConfirmedThenTheApplicationComesBack) {
    SimDeviceConfig config = test::FastConfig(Personality::BootLoader);
    test::SimBench bench(config);
    const std::string strFlashOut = bench.Root() + "/flash.bin";
    bench.MutableConfig().strFlashOut = strFlashOut;
    ASSERT_TRUE(bench.Start());
    ASSERT_TRUE(test::Handshake(bench.Host()));
    const std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(bench.Host().Write(MakeHostDataPacket(0x108000, 0, data.data(), data.size())));
    ASSERT_EQ(bench.Host().ReadPacket(1000).size(), 16u);
    ASSERT_TRUE(bench.Host().Write(MakeHostFinish()));
    const std::vector<uint8_t> reply = bench.Host().ReadPacket(1000);
    ASSERT_EQ(reply.size(), 16u);
    EXPECT_EQ(GetLe32(reply.data() + 8), 2u);
    EXPECT_EQ(GetLe32(reply.data() + 12), 9u);
    EXPECT_TRUE(bench.Device().WaitForDownloads(1, 1000));
    EXPECT_EQ(bench.Device().DownloadsFinished(), 1);
    // The port vanishes: the host's open side sees the hang-up.
    EXPECT_TRUE(test::WaitForHangup(bench.Host(), 2000));
    // ... and comes back as the application.
    ASSERT_TRUE(test::WaitForPath(bench.Root() + "/dev/ttyACM0", true, 2000));
    EXPECT_EQ(bench.Device().CurrentPersonality(), Personality::Application);
    ASSERT_TRUE(bench.Reconnect());
    ASSERT_TRUE(bench.Host().Write(std::string("~rv\r\n")));
    EXPECT_EQ(bench.Host().ReadLine(1000), "~Rv00002.0.0.1\r\n");
    // The flash image file holds the download at its offset.
    std::ifstream file(strFlashOut, std::ios::binary);
    std::vector<uint8_t> image((std::istreambuf_iterator<char>(file)), {});
    ASSERT_EQ(image.size(), kFlashSize);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), image.begin() + 0x8000));
    EXPECT_EQ(image[0x8008], 0xFF);
}

TEST(SimDevice, FullCycleTwiceWithOperatorUnplugAndReplug) {
    test::SimBench bench;
    ASSERT_TRUE(bench.Start());
    for (int nRound = 1; nRound <= 2; ++nRound) {
        ASSERT_TRUE(bench.Host().Write(std::string("~dboot\r\n")));
        EXPECT_EQ(bench.Host().ReadLine(1000), "~Dboot\r\n");
        ASSERT_TRUE(test::WaitForHangup(bench.Host(), 2000));
        ASSERT_TRUE(bench.WaitForPersonality(Personality::BootLoader, 2000));
        ASSERT_TRUE(bench.Reconnect());
        ASSERT_TRUE(test::Handshake(bench.Host()));
        const std::vector<uint8_t> data(4, static_cast<uint8_t>(nRound));
        ASSERT_TRUE(bench.Host().Write(MakeHostDataPacket(0x108000, 0, data.data(), 4)));
        ASSERT_EQ(bench.Host().ReadPacket(1000).size(), 16u);
        ASSERT_TRUE(bench.Host().Write(MakeHostFinish()));
        ASSERT_EQ(bench.Host().ReadPacket(1000).size(), 16u);
        ASSERT_TRUE(test::WaitForHangup(bench.Host(), 2000));
        ASSERT_TRUE(bench.WaitForPersonality(Personality::Application, 2000));
        ASSERT_TRUE(bench.Reconnect());
        EXPECT_EQ(bench.Device().DownloadsFinished(), nRound);
        EXPECT_EQ(bench.Device().FlashAt(0x108000, 4), data);
    }
    bench.Device().Unplug();
    EXPECT_FALSE(bench.Device().IsPlugged());
    EXPECT_TRUE(test::WaitForHangup(bench.Host(), 1000));
    EXPECT_FALSE(fs::exists(fs::symlink_status(bench.Root() + "/sys/class/tty/ttyACM0")));
    ASSERT_TRUE(bench.Device().Replug());
    ASSERT_TRUE(bench.Reconnect());
    ASSERT_TRUE(bench.Host().Write(std::string("~rS\r\n")));
    EXPECT_EQ(bench.Host().ReadLine(1000), "~RS0000SN00000001\r\n");
}

TEST(SimDevice, SeveralDevicesRunSideBySide) {
    fwtest::CTempRoot root(false);
    std::vector<std::unique_ptr<CSimDevice>> devices;
    for (int i = 0; i < 3; ++i) {
        SimDeviceConfig config = test::FastConfig();
        config.strRoot = root.Path();
        config.strUsbPath = "1-" + std::to_string(i + 1);
        config.strAppTty = config.strBootTty = "ttyACM" + std::to_string(i);
        config.strSerial = "SN" + std::to_string(i);
        devices.push_back(std::make_unique<CSimDevice>(config));
        ASSERT_TRUE(devices.back()->Start());
    }
    std::vector<HostLink> hosts(3);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(hosts[i].Open(devices[i]->DevicePath()));
        ASSERT_TRUE(hosts[i].Write(std::string("~rS\r\n~dboot\r\n")));
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(hosts[i].ReadLine(1000), "~RS0000SN" + std::to_string(i) + "\r\n");
        EXPECT_EQ(hosts[i].ReadLine(1000), "~Dboot\r\n");
    }
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(test::WaitForHangup(hosts[i], 2000));
        const auto tpDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (devices[i]->CurrentPersonality() != Personality::BootLoader ||
               !devices[i]->IsPlugged()) {
            ASSERT_LT(std::chrono::steady_clock::now(), tpDeadline);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(hosts[i].Open(devices[i]->DevicePath()));
        ASSERT_TRUE(hosts[i].Write(test::StatusQuery()));
        EXPECT_EQ(hosts[i].Read(8, 1000).size(), 8u);
    }
}

} // namespace
} // namespace fwsim
