#include "device/Packets.h"

#include "device/Crc32.h"

#include <algorithm>
#include <cstring>

namespace fwup {

uint16_t ReadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void WriteLe16(uint8_t* p, uint16_t nValue) {
    p[0] = static_cast<uint8_t>(nValue);
    p[1] = static_cast<uint8_t>(nValue >> 8);
}

void WriteLe32(uint8_t* p, uint32_t dwValue) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(dwValue >> (8 * i));
    }
}

std::array<uint8_t, 8> BuildCommandPacket(uint16_t nCode, uint32_t dwArgument) {
    std::array<uint8_t, 8> packet{};
    WriteLe16(&packet[0], kCommandKind);
    WriteLe16(&packet[2], nCode);
    WriteLe32(&packet[4], dwArgument);
    return packet;
}

std::array<uint8_t, 8> BuildFinishPacket() {
    std::array<uint8_t, 8> packet{};
    WriteLe16(&packet[0], kDataMarker);
    WriteLe16(&packet[2], 2);
    return packet;
}

std::array<uint8_t, 8> BuildStatusQuery() {
    std::array<uint8_t, 8> packet{};
    WriteLe16(&packet[2], kStatusQueryCode);
    return packet;
}

bool ParseStatusReply(const uint8_t* pPacket, uint32_t& dwValue) {
    if (ReadLe16(pPacket) != 0 || ReadLe16(pPacket + 2) != kStatusQueryCode) {
        return false;
    }
    dwValue = ReadLe32(pPacket + 4);
    return true;
}

uint32_t DevicePacketLength(const uint8_t* pHeader) {
    if (pHeader[0] == 0x40) {
        return kPacketHeaderSize;
    }
    return kPacketHeaderSize + 4u * ReadLe16(pHeader + 4);
}

uint16_t DevicePacketCode(const uint8_t* pHeader) {
    return ReadLe16(pHeader + 2);
}

uint32_t BlockDataSize(uint32_t nMaxWords) {
    return nMaxWords * 4 > kDataHeaderSize ? nMaxWords * 4 - kDataHeaderSize : 0;
}

std::vector<BlockPlan> PlanBlocks(uint32_t dwAddress, uint32_t nLength, uint32_t nBlockData) {
    std::vector<BlockPlan> plan;
    if (nBlockData == 0) {
        return plan;
    }
    plan.reserve(nLength / nBlockData + 1);
    for (uint32_t nOffset = 0; nOffset < nLength;) {
        const uint32_t nCount = std::min(nBlockData, nLength - nOffset);
        plan.push_back({dwAddress + nOffset, nOffset, nCount});
        nOffset += nCount;
    }
    return plan;
}

uint32_t BuildDataPacket(uint8_t* pPacket, uint32_t dwAddress, const uint8_t* pData,
                         uint32_t nCount, uint32_t dwFlags) {
    const uint32_t nPadding = (0u - nCount) & 3u;
    WriteLe16(pPacket, kDataMarker);
    WriteLe16(pPacket + 2, 1);
    WriteLe16(pPacket + 4, static_cast<uint16_t>((nCount + 3) / 4 + 3));
    WriteLe16(pPacket + 6, 0);
    WriteLe32(pPacket + 8, dwAddress);
    WriteLe32(pPacket + 16, (dwFlags & ~6u) | (2u * nPadding));
    if (nCount > 0) {
        std::memcpy(pPacket + kDataHeaderSize, pData, nCount);
    }
    std::memset(pPacket + kDataHeaderSize + nCount, 0, nPadding);
    // The CRC covers the header words before it and the flags and data behind it,
    // not the padding.
    uint32_t dwCrc = Crc32Update(0, pPacket, 12);
    dwCrc = Crc32Update(dwCrc, pPacket + 16, nCount + 4);
    WriteLe32(pPacket + 12, dwCrc);
    return kDataHeaderSize + nCount + nPadding;
}

} // namespace fwup
