// Pure packet building and parsing: CRC, command/finish/data packets, block
// planning, device packet lengths and the ASCII reply parsers.

#include "device/CommandProtocol.h"
#include "device/Crc32.h"
#include "device/Packets.h"
#include "device/Sha256.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace fwup;

namespace {

// Bit-by-bit reference of the same CRC, independent of the table.
uint32_t ReferenceCrc(const uint8_t* pData, size_t nCount) {
    uint32_t dwCrc = 0;
    for (size_t i = 0; i < nCount; ++i) {
        dwCrc ^= static_cast<uint32_t>(pData[i]) << 24;
        for (int nBit = 0; nBit < 8; ++nBit) {
            dwCrc = (dwCrc & 0x80000000u) ? (dwCrc << 1) ^ 0x04C11DB7u : dwCrc << 1;
        }
    }
    return dwCrc;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> bytes;
    for (int v : values) {
        bytes.push_back(static_cast<uint8_t>(v));
    }
    return bytes;
}

template <size_t N> std::vector<uint8_t> ToVector(const std::array<uint8_t, N>& a) {
    return std::vector<uint8_t>(a.begin(), a.end());
}

} // namespace

TEST(Crc32, CheckValueAndTable) {
    const char* pszDigits = "123456789";
    EXPECT_EQ(Crc32Update(0, reinterpret_cast<const uint8_t*>(pszDigits), 9), 0x89A1897Fu);
    EXPECT_EQ(Crc32Table()[0], 0u);
    EXPECT_EQ(Crc32Table()[1], 0x04C11DB7u);
    // Split runs continue the same CRC.
    uint32_t dwCrc = Crc32Update(0, reinterpret_cast<const uint8_t*>(pszDigits), 4);
    EXPECT_EQ(Crc32Update(dwCrc, reinterpret_cast<const uint8_t*>(pszDigits) + 4, 5), 0x89A1897Fu);
}

TEST(Crc32, MatchesBitwiseReferenceOverAllByteValues) {
    std::vector<uint8_t> data(1000);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    }
    for (size_t nLength : {size_t{0}, size_t{1}, size_t{255}, size_t{1000}}) {
        EXPECT_EQ(Crc32Update(0, data.data(), nLength), ReferenceCrc(data.data(), nLength))
            << nLength;
    }
}

TEST(Packets, FixedHostPackets) {
    EXPECT_EQ(ToVector(BuildCommandPacket(kCmdAreaFlags, kCodeAreaFlags)),
              Bytes({0x01, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x3E, 0x5C}));
    EXPECT_EQ(ToVector(BuildCommandPacket(kCmdStart, 1)),
              Bytes({0x01, 0x00, 0x00, 0xF0, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(ToVector(BuildFinishPacket()), Bytes({0x0D, 0xF0, 0x02, 0, 0, 0, 0, 0}));
    EXPECT_EQ(ToVector(BuildStatusQuery()), Bytes({0, 0, 0x0F, 0, 0, 0, 0, 0}));
}

TEST(Packets, StatusReplyParsing) {
    struct Case {
        std::vector<uint8_t> reply;
        bool bAccepted;
        uint32_t dwValue;
    };
    const Case cases[] = {
        {Bytes({0, 0, 0x0F, 0, 0x04, 0x03, 0x02, 0x01}), true, 0x01020304},
        {Bytes({0, 0, 0x0F, 0, 0xFF, 0xFF, 0xFF, 0xFF}), true, 0xFFFFFFFF},
        {Bytes({1, 0, 0x0F, 0, 0, 0, 0, 0}), false, 0},
        {Bytes({0, 0, 0x0E, 0, 0, 0, 0, 0}), false, 0},
        {Bytes({0, 0, 0x0F, 1, 0, 0, 0, 0}), false, 0},
    };
    for (const Case& c : cases) {
        uint32_t dwValue = 0;
        EXPECT_EQ(ParseStatusReply(c.reply.data(), dwValue), c.bAccepted);
        if (c.bAccepted) {
            EXPECT_EQ(dwValue, c.dwValue);
        }
    }
}

TEST(Packets, DevicePacketLengthAndCode) {
    EXPECT_EQ(DevicePacketLength(Bytes({0x40, 0, 0x0B, 0x30, 0xFF, 0xFF, 0, 0}).data()), 8u);
    EXPECT_EQ(DevicePacketLength(Bytes({0x00, 0, 0x0B, 0x30, 0x02, 0x00, 0, 0}).data()), 16u);
    EXPECT_EQ(DevicePacketLength(Bytes({0x00, 0, 0x01, 0x00, 0x00, 0x00, 0, 0}).data()), 8u);
    EXPECT_EQ(DevicePacketLength(Bytes({0x01, 0, 0, 0, 0xFF, 0xFF, 0, 0}).data()), 8u + 4 * 65535);
    EXPECT_EQ(DevicePacketCode(Bytes({0, 0, 0x0B, 0x30, 0, 0, 0, 0}).data()), kDevCodeInfo);
}

TEST(Packets, SixHundredBytesWithL64GoOutInThreeBlocks) {
    const uint32_t nBlockData = BlockDataSize(64);
    EXPECT_EQ(nBlockData, 236u);
    const auto plan = PlanBlocks(0x108000, 600, nBlockData);
    ASSERT_EQ(plan.size(), 3u);
    const uint32_t expectAddress[] = {0x108000, 0x1080EC, 0x1081D8};
    const uint32_t expectCount[] = {236, 236, 128};
    const uint16_t expectLengthField[] = {62, 62, 35};
    std::vector<uint8_t> data(600);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    std::vector<uint8_t> packet(64 * 4);
    for (size_t i = 0; i < plan.size(); ++i) {
        EXPECT_EQ(plan[i].dwAddress, expectAddress[i]);
        EXPECT_EQ(plan[i].nCount, expectCount[i]);
        const uint32_t nBytes = BuildDataPacket(packet.data(), plan[i].dwAddress,
                                                data.data() + plan[i].nOffset, plan[i].nCount, 1);
        EXPECT_EQ(nBytes, 20 + expectCount[i]); // no padding
        EXPECT_EQ(ReadLe16(packet.data()), 0xF00D);
        EXPECT_EQ(ReadLe16(packet.data() + 2), 1);
        EXPECT_EQ(ReadLe16(packet.data() + 4), expectLengthField[i]);
        EXPECT_EQ(ReadLe16(packet.data() + 6), 0);
        EXPECT_EQ(ReadLe32(packet.data() + 8), expectAddress[i]);
        EXPECT_EQ(ReadLe32(packet.data() + 16), 1u); // area bit 0, no padding bits
        EXPECT_EQ(std::memcmp(packet.data() + 20, data.data() + plan[i].nOffset, plan[i].nCount),
                  0);
        std::vector<uint8_t> covered(packet.begin(), packet.begin() + 12);
        covered.insert(covered.end(), packet.begin() + 16, packet.begin() + 20 + plan[i].nCount);
        EXPECT_EQ(ReadLe32(packet.data() + 12), ReferenceCrc(covered.data(), covered.size()));
    }
}

TEST(Packets, BlockPlanEdges) {
    EXPECT_TRUE(PlanBlocks(0x108000, 0, 236).empty());
    // A multiple of D ends with a full block.
    const auto plan = PlanBlocks(0x108000, 472, 236);
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan[1].nCount, 236u);
    // The whole CODE area with the largest block the length field allows.
    const auto big = PlanBlocks(0x108000, 176128, BlockDataSize(65537));
    uint32_t nSum = 0;
    for (const auto& block : big) {
        nSum += block.nCount;
    }
    EXPECT_EQ(nSum, 176128u);
}

TEST(Packets, ShortBlocksCarryPaddingInFlags) {
    struct Case {
        uint32_t nCount;
        uint16_t nLengthField;
        uint32_t nPadding;
    };
    const Case cases[] = {{1, 4, 3}, {2, 4, 2}, {3, 4, 1}, {4, 4, 0}, {5, 5, 3}, {128, 35, 0}};
    const uint8_t data[8] = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07, 0x18};
    for (const Case& c : cases) {
        std::vector<uint8_t> packet(512, 0xEE);
        std::vector<uint8_t> source(c.nCount);
        for (uint32_t i = 0; i < c.nCount; ++i) {
            source[i] = data[i % 8];
        }
        // Bits 1-2 of the incoming flags are replaced, bit 0 kept.
        const uint32_t nBytes =
            BuildDataPacket(packet.data(), 0x13C000, source.data(), c.nCount, 7);
        EXPECT_EQ(nBytes, 20 + c.nCount + c.nPadding) << c.nCount;
        EXPECT_EQ(ReadLe16(packet.data() + 4), c.nLengthField) << c.nCount;
        EXPECT_EQ(ReadLe32(packet.data() + 16), 1u | (2u * c.nPadding)) << c.nCount;
        for (uint32_t i = 0; i < c.nPadding; ++i) {
            EXPECT_EQ(packet[20 + c.nCount + i], 0) << c.nCount;
        }
    }
}

TEST(Packets, ThreeByteBlockCrcCoversHeaderFlagsAndDataOnly) {
    const uint8_t data[3] = {0x11, 0x22, 0x33};
    std::vector<uint8_t> packet(64, 0xEE);
    ASSERT_EQ(BuildDataPacket(packet.data(), 0x108000, data, 3, 0), 24u);
    EXPECT_EQ(ReadLe16(packet.data() + 4), 4);
    EXPECT_EQ(ReadLe32(packet.data() + 16), 2u); // one padding byte
    EXPECT_EQ(packet[23], 0);
    std::vector<uint8_t> covered(packet.begin(), packet.begin() + 12);
    covered.insert(covered.end(), packet.begin() + 16, packet.begin() + 23); // 7 bytes
    EXPECT_EQ(ReadLe32(packet.data() + 12), ReferenceCrc(covered.data(), covered.size()));
    // The padding byte is not covered: covering it would give another CRC.
    covered.push_back(0);
    EXPECT_NE(ReadLe32(packet.data() + 12), ReferenceCrc(covered.data(), covered.size()));
}

TEST(ReplyParsing, VersionAndSerial) {
    struct Case {
        std::string strReply;
        bool bVersion;           // parse as version (else serial)
        const char* pszExpected; // nullptr = none
    };
    const Case cases[] = {
        {"~Rv00001.23\r\n", true, "1.23"},
        {"~Rv0000\r\n", true, ""},
        {"~Rv0001.23\r\n", true, nullptr},  // seventh character not 0
        {"~RV00001.23\r\n", true, nullptr}, // case matters
        {"~Rv0000", true, nullptr},         // 7 bytes
        {"~RS0000\r\n", false, ""},         // empty serial, not none
        {"~RS0000SN42\r\n", false, "SN42"},
        {"~RS0000SN42", false, "SN42"},      // full buffer without a line end
        {"~Rv0000SN42\r\n", false, nullptr}, // the version prefix is no serial
        {"~RS000", false, nullptr},
    };
    for (const Case& c : cases) {
        std::vector<char> buffer(c.strReply.begin(), c.strReply.end());
        buffer.push_back('\0');
        const uint32_t nCount = static_cast<uint32_t>(c.strReply.size());
        const char* pszText = c.bVersion ? ParseVersionReply(buffer.data(), nCount)
                                         : ParseSerialReply(buffer.data(), nCount);
        if (c.pszExpected == nullptr) {
            EXPECT_EQ(pszText, nullptr) << c.strReply;
        } else {
            ASSERT_NE(pszText, nullptr) << c.strReply;
            EXPECT_STREQ(pszText, c.pszExpected) << c.strReply;
        }
    }
}

TEST(ReplyParsing, ReadyLine) {
    EXPECT_EQ(ParseReadyLine("xyz~e!ready,ABC\r\n", false), "ABC");
    EXPECT_EQ(ParseReadyLine("~e!ready,TARNIC\r\n", false), "TARNIC");
    EXPECT_EQ(ParseReadyLine("hello\r\n", false), "hello");
    EXPECT_EQ(ParseReadyLine("a~e!ready,b~e!ready,c\r\n", false), "b~e!ready,c");
    EXPECT_EQ(ParseReadyLine("~e!ready,par", true), "~e!ready,par");
    EXPECT_EQ(ParseReadyLine("", true), "");
}

TEST(Sha256, KnownDigests) {
    const std::string millionA(1000000, 'a');
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the length no longer fits the first block.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {millionA, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [strInput, pszDigest] : cases) {
        EXPECT_EQ(Sha256Hex(reinterpret_cast<const uint8_t*>(strInput.data()), strInput.size()),
                  pszDigest)
            << strInput.size();
    }
    // Fed in uneven pieces, the same digest.
    CSha256 sha;
    for (size_t i = 0; i < millionA.size(); i += 997) {
        sha.Update(reinterpret_cast<const uint8_t*>(millionA.data()) + i,
                   std::min<size_t>(997, millionA.size() - i));
    }
    const auto digest = sha.Final();
    EXPECT_EQ(HexText(digest.data(), digest.size()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}
