// Pure logic of the simulator: its own CRC, command parser, packet framer and
// data packet checks.
#include "sim/CCommandParser.h"
#include "sim/CPacketFramer.h"
#include "sim/CSimDevice.h"
#include "sim/SimCrc32.h"
#include "sim/SimPackets.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <string>
#include <vector>

namespace fwsim {
namespace {

std::vector<uint8_t> Bytes(const std::string& str) {
    return {str.begin(), str.end()};
}

TEST(SimCrc32, CheckValueOfTheNineDigits) {
    const std::vector<uint8_t> digits = Bytes("123456789");
    EXPECT_EQ(SimCrc32(0, digits.data(), digits.size()), 0x89A1897Fu);
}

TEST(SimCrc32, ContinuesAcrossPieces) {
    const std::vector<uint8_t> digits = Bytes("123456789");
    const uint32_t dwFirst = SimCrc32(0, digits.data(), 4);
    EXPECT_EQ(SimCrc32(dwFirst, digits.data() + 4, 5), 0x89A1897Fu);
    EXPECT_EQ(SimCrc32(0, digits.data(), 0), 0u);
}

std::vector<std::string> ParseAll(const std::string& strStream) {
    CCommandParser parser;
    std::vector<std::string> commands;
    for (char c : strStream) {
        if (auto command = parser.Feed(static_cast<uint8_t>(c))) {
            commands.push_back(*command);
        }
    }
    return commands;
}

TEST(CommandParser, CutsCommandsAndResynchronises) {
    struct Case {
        std::string strStream;
        std::vector<std::string> expected;
    };
    const std::string strStatusQuery("\x00\x00\x0F\x00\x00\x00\x00\x00", 8);
    const Case cases[] = {
        {"~rv\r\n", {"~rv"}},
        {"~rv\r\n~rS\r\n", {"~rv", "~rS"}},
        {"~dboot\r\n", {"~dboot"}},
        {strStatusQuery, {}},
        {strStatusQuery + "~rv\r\n", {"~rv"}},
        {"junk~rv\r\n", {"~rv"}},
        {"~rS~rv\r\n", {"~rv"}},                                // a new '~' restarts the command
        {"~rv\n~rS\r\n", {"~rS"}},                              // LF without CR is no line end
        {"~rv\rX\r\n~rS\r\n", {"~rS"}},                         // CR not followed by LF
        {"~r\x01v\r\n", {}},                                    // control byte inside a command
        {"~r\xC3v\r\n~rv\r\n", {"~rv"}},                        // 8-bit byte inside a command
        {"~" + std::string(200, 'a') + "\r\n~rv\r\n", {"~rv"}}, // over-long
        {"\r\n\r\n", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseAll(c.strStream), c.expected) << "stream: " << c.strStream;
    }
}

TEST(PacketFramer, SlidesOverTextAndCutsPackets) {
    CPacketFramer framer;
    const std::vector<uint8_t> command = MakeHostCommand(kCodeBegin, 1);
    const std::vector<uint8_t> query = {0, 0, 0x0F, 0, 0, 0, 0, 0};
    const uint8_t data[3] = {1, 2, 3};
    const std::vector<uint8_t> dataPacket = MakeHostDataPacket(0x108000, 0, data, 3);
    std::vector<uint8_t> stream = Bytes("~dboot\r\n");
    for (const auto* p : {&command, &query, &dataPacket}) {
        stream.insert(stream.end(), p->begin(), p->end());
    }
    std::vector<std::vector<uint8_t>> taken;
    std::vector<uint8_t> packet;
    // Byte by byte, as a slow line would deliver it.
    for (uint8_t b : stream) {
        framer.Append(&b, 1);
        while (framer.Take(packet)) {
            taken.push_back(packet);
        }
    }
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[0], command);
    EXPECT_EQ(taken[1], query);
    EXPECT_EQ(taken[2], dataPacket);
    EXPECT_EQ(framer.Pending(), 0u);
}

TEST(PacketFramer, KeepsAnIncompleteDataPacket) {
    CPacketFramer framer;
    const std::vector<uint8_t> data(40, 0x55);
    const std::vector<uint8_t> dataPacket = MakeHostDataPacket(0x108000, 0, data.data(), 40);
    framer.Append(dataPacket.data(), dataPacket.size() - 1);
    std::vector<uint8_t> packet;
    EXPECT_FALSE(framer.Take(packet));
    EXPECT_EQ(framer.Pending(), dataPacket.size() - 1);
    framer.Append(&dataPacket.back(), 1);
    ASSERT_TRUE(framer.Take(packet));
    EXPECT_EQ(packet, dataPacket);
}

TEST(HostPackets, StartCommandsHaveTheDocumentedBytes) {
    EXPECT_EQ(MakeHostCommand(kCodeAreaFlags, 0x5C3E0000),
              (std::vector<uint8_t>{0x01, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x3E, 0x5C}));
    EXPECT_EQ(MakeHostCommand(kCodeBegin, 1),
              (std::vector<uint8_t>{0x01, 0x00, 0x00, 0xF0, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(MakeHostFinish(),
              (std::vector<uint8_t>{0x0D, 0xF0, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST(DataPacketCheck, ThreeByteBlockHasOnePaddingByte) {
    const uint8_t data[3] = {0xAA, 0xBB, 0xCC};
    const std::vector<uint8_t> packet = MakeHostDataPacket(0x108000, 0x5C3E0000, data, 3);
    ASSERT_EQ(packet.size(), 24u);
    EXPECT_EQ(GetLe16(packet.data() + 4), 4u);
    EXPECT_EQ(GetLe32(packet.data() + 16), 2u); // flags: one padding byte, area bit 0 clear
    // The CRC covers bytes 0-11 and the 7 bytes from offset 16, not the padding.
    uint32_t dwCrc = SimCrc32(0, packet.data(), 12);
    dwCrc = SimCrc32(dwCrc, packet.data() + 16, 7);
    EXPECT_EQ(GetLe32(packet.data() + 12), dwCrc);
    DataBlock block;
    ASSERT_TRUE(CheckDataPacket(packet.data(), packet.size(), 64, kFlashBase, kFlashSize, block));
    EXPECT_EQ(block.nLength, 3u);
    EXPECT_EQ(block.dwAddress, 0x108000u);
}

TEST(DataPacketCheck, RefusesEveryKindOfDamage) {
    std::vector<uint8_t> data(100);
    std::iota(data.begin(), data.end(), uint8_t{1});
    const std::vector<uint8_t> good = MakeHostDataPacket(0x108000, 0, data.data(), 99);
    auto resign = [](std::vector<uint8_t>& p) {
        const size_t nPadding = (GetLe32(p.data() + 16) >> 1) & 3;
        // From the bytes present, so a damaged length field cannot lead past them.
        const size_t nLength = p.size() - 20 - nPadding;
        PutLe32(p.data() + 12, DataPacketCrc(p.data(), nLength));
    };
    struct Case {
        const char* pszName;
        std::function<void(std::vector<uint8_t>&)> damage;
        uint32_t dwMaxWords;
        bool bAccepted;
    };
    const Case cases[] = {
        {"good", [](auto&) {}, 64, true},
        {"crc", [](auto& p) { p[12] ^= 1; }, 64, false},
        {"data bit", [](auto& p) { p[30] ^= 0x80; }, 64, false},
        {"address bit", [](auto& p) { p[8] ^= 1; }, 64, false},
        {"flags bit 3",
         [&](auto& p) {
             p[16] |= 8;
             resign(p);
         },
         64, false},
        {"flags bit 0 (area)",
         [&](auto& p) {
             p[16] |= 1;
             resign(p);
         },
         64, true},
        {"padding count 2",
         [&](auto& p) {
             p[16] = 4;
             resign(p);
         },
         64, false},
        {"padding not zero", [](auto& p) { p.back() = 1; }, 64, false},
        {"length field",
         [&](auto& p) {
             p[4] += 1;
             resign(p);
         },
         64, false},
        {"reserved word",
         [&](auto& p) {
             p[6] = 1;
             resign(p);
         },
         64, false},
        {"too big for L", [](auto&) {}, 29, false},
        {"fits L exactly", [](auto&) {}, 30, true}, // 20 + 99 + 1 bytes = 30 words
        {"below flash",
         [&](auto& p) {
             PutLe32(p.data() + 8, 0xFFFF0);
             resign(p);
         },
         64, false},
        {"beyond flash",
         [&](auto& p) {
             PutLe32(p.data() + 8, 0x13FFA0);
             resign(p);
         },
         64, false},
        {"end of flash",
         [&](auto& p) {
             PutLe32(p.data() + 8, 0x13FF9D);
             resign(p);
         },
         64, true},
        {"truncated", [](auto& p) { p.pop_back(); }, 64, false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> packet = good;
        c.damage(packet);
        DataBlock block;
        EXPECT_EQ(CheckDataPacket(packet.data(), packet.size(), c.dwMaxWords, kFlashBase,
                                  kFlashSize, block),
                  c.bAccepted)
            << c.pszName;
    }
}

TEST(DevicePackets, AreSelfConsistentWithTheirWordCount) {
    const std::vector<std::vector<uint8_t>> packets = {
        MakeInfoPacket(64, false), MakeInfoPacket(64, true), MakeGoPacket(),
        MakeReply(kCodeData, 1, 0), MakeJunkPacket()};
    for (const auto& packet : packets) {
        ASSERT_GE(packet.size(), 8u);
        EXPECT_NE(packet[0], 0x40);
        EXPECT_EQ(packet.size(), 8u + 4u * GetLe16(packet.data() + 4));
    }
    EXPECT_EQ(packets[0].size(), 16u);
    EXPECT_EQ(packets[1].size(), 20u);
    EXPECT_EQ(GetLe32(packets[0].data() + 8), 64u);
    const std::vector<uint8_t> junk = MakeJunkPacket();
    EXPECT_NE(GetLe16(junk.data() + 2), kCodeInfo);
    EXPECT_NE(GetLe16(junk.data() + 2), kCodeGo);
    EXPECT_FALSE(GetLe16(junk.data()) == 0 && GetLe16(junk.data() + 2) == kCodeStatusQuery);
    EXPECT_EQ(MakeStatusReply(0x01020304),
              (std::vector<uint8_t>{0, 0, 0x0F, 0, 0x04, 0x03, 0x02, 0x01}));
}

} // namespace
} // namespace fwsim
