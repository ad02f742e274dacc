#include "sim/SimPackets.h"

#include "sim/SimCrc32.h"

namespace fwsim {

namespace {

constexpr uint16_t kReplyFlag = 0x8000; // code of a reply = request code | 0x8000
constexpr uint16_t kJunkCode = 0x0BAD;

std::vector<uint8_t> MakeHeader(uint16_t wFirst, uint16_t wCode, uint16_t wWords) {
    std::vector<uint8_t> packet(kHeaderSize + 4u * wWords, 0);
    PutLe16(packet.data(), wFirst);
    PutLe16(packet.data() + 2, wCode);
    PutLe16(packet.data() + 4, wWords);
    return packet;
}

} // namespace

uint16_t GetLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t GetLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void PutLe16(uint8_t* p, uint16_t wValue) {
    p[0] = static_cast<uint8_t>(wValue);
    p[1] = static_cast<uint8_t>(wValue >> 8);
}

void PutLe32(uint8_t* p, uint32_t dwValue) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(dwValue >> (8 * i));
    }
}

HostPacket ClassifyHeader(const uint8_t* pHeader) {
    const uint16_t wFirst = GetLe16(pHeader);
    const uint16_t wCode = GetLe16(pHeader + 2);
    if (wFirst == 0 && wCode == kCodeStatusQuery) {
        return HostPacket::StatusQuery;
    }
    if (wFirst == kCommandKind) {
        return HostPacket::Command;
    }
    if (wFirst == kDataMarker && wCode == kCodeData) {
        return HostPacket::Data;
    }
    if (wFirst == kDataMarker && wCode == kCodeFinish) {
        return HostPacket::Finish;
    }
    return HostPacket::Unknown;
}

size_t HostPacketSize(const uint8_t* pHeader) {
    if (ClassifyHeader(pHeader) == HostPacket::Data) {
        return kHeaderSize + 4u * GetLe16(pHeader + 4);
    }
    return kHeaderSize;
}

uint32_t DataPacketCrc(const uint8_t* pPacket, size_t nDataLength) {
    const uint32_t dwCrc = SimCrc32(0, pPacket, 12);
    return SimCrc32(dwCrc, pPacket + 16, nDataLength + 4);
}

bool CheckDataPacket(const uint8_t* pPacket, size_t nSize, uint32_t dwMaxWords,
                     uint32_t dwFlashBase, uint32_t dwFlashSize, DataBlock& block) {
    if (nSize < 20 || ClassifyHeader(pPacket) != HostPacket::Data) {
        return false;
    }
    const size_t nWords = GetLe16(pPacket + 4);
    // At least one data word; the header's count must describe exactly what came.
    if (nWords < 4 || kHeaderSize + 4 * nWords != nSize || nSize > 4ull * dwMaxWords) {
        return false;
    }
    if (GetLe16(pPacket + 6) != 0) {
        return false;
    }
    const uint32_t dwFlags = GetLe32(pPacket + 16);
    if ((dwFlags & ~7u) != 0) {
        return false;
    }
    const size_t nPadding = (dwFlags >> 1) & 3;
    const size_t nLength = (nWords - 3) * 4 - nPadding;
    for (size_t i = 20 + nLength; i < nSize; ++i) {
        if (pPacket[i] != 0) {
            return false;
        }
    }
    if (DataPacketCrc(pPacket, nLength) != GetLe32(pPacket + 12)) {
        return false;
    }
    const uint64_t qwAddress = GetLe32(pPacket + 8);
    if (qwAddress < dwFlashBase || qwAddress + nLength > uint64_t{dwFlashBase} + dwFlashSize) {
        return false;
    }
    block.dwAddress = static_cast<uint32_t>(qwAddress);
    block.dwFlags = dwFlags;
    block.nDataOffset = 20;
    block.nLength = nLength;
    return true;
}

std::vector<uint8_t> MakeStatusReply(uint32_t dwValue) {
    std::vector<uint8_t> packet = MakeHeader(0, kCodeStatusQuery, 0);
    // Bytes 4-7 carry the value; a host reading the header as "4-5 = payload words"
    // never sees this packet (the status query is read as exactly 8 bytes).
    PutLe32(packet.data() + 4, dwValue);
    return packet;
}

std::vector<uint8_t> MakeInfoPacket(uint32_t dwMaxWords, bool bLong) {
    std::vector<uint8_t> packet = MakeHeader(kDataMarker, kCodeInfo, bLong ? 3 : 2);
    PutLe32(packet.data() + 8, dwMaxWords);
    return packet;
}

std::vector<uint8_t> MakeGoPacket() {
    return MakeHeader(kDataMarker, kCodeGo, 0);
}

std::vector<uint8_t> MakeReply(uint16_t wCode, uint32_t dwEcho, uint32_t dwStatus) {
    std::vector<uint8_t> packet =
        MakeHeader(kDataMarker, static_cast<uint16_t>(wCode | kReplyFlag), 2);
    PutLe32(packet.data() + 8, dwEcho);
    PutLe32(packet.data() + 12, dwStatus);
    return packet;
}

std::vector<uint8_t> MakeJunkPacket() {
    std::vector<uint8_t> packet = MakeHeader(0xA55A, kJunkCode, 0);
    packet[6] = 0x5A;
    packet[7] = 0xA5;
    return packet;
}

std::vector<uint8_t> MakeHostCommand(uint16_t wCode, uint32_t dwArgument) {
    std::vector<uint8_t> packet(8, 0);
    PutLe16(packet.data(), kCommandKind);
    PutLe16(packet.data() + 2, wCode);
    PutLe32(packet.data() + 4, dwArgument);
    return packet;
}

std::vector<uint8_t> MakeHostDataPacket(uint32_t dwAddress, uint32_t dwAreaFlags,
                                        const uint8_t* pData, size_t nLength) {
    const size_t nPadding = (4 - nLength % 4) % 4;
    std::vector<uint8_t> packet(20 + nLength + nPadding, 0);
    PutLe16(packet.data(), kDataMarker);
    PutLe16(packet.data() + 2, kCodeData);
    PutLe16(packet.data() + 4, static_cast<uint16_t>((nLength + 3) / 4 + 3));
    PutLe32(packet.data() + 8, dwAddress);
    PutLe32(packet.data() + 16, (dwAreaFlags & 1) | static_cast<uint32_t>(2 * nPadding));
    for (size_t i = 0; i < nLength; ++i) {
        packet[20 + i] = pData[i];
    }
    PutLe32(packet.data() + 12, DataPacketCrc(packet.data(), nLength));
    return packet;
}

std::vector<uint8_t> MakeHostFinish() {
    std::vector<uint8_t> packet(8, 0);
    PutLe16(packet.data(), kDataMarker);
    PutLe16(packet.data() + 2, kCodeFinish);
    return packet;
}

} // namespace fwsim
