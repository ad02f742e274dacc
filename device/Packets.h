#pragma once
// Byte layouts of the boot loader's packets (little-endian throughout), as pure
// functions: no I/O, no state.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fwup {

inline constexpr uint32_t kPacketHeaderSize = 8;
inline constexpr uint32_t kDataHeaderSize = 20; // header + address + CRC + flags
inline constexpr uint16_t kDataMarker = 0xF00D;
inline constexpr uint16_t kCommandKind = 1;
inline constexpr uint16_t kCmdAreaFlags = 14;    // argument: dwAreaFlags
inline constexpr uint16_t kCmdStart = 0xF000;    // argument: 1
inline constexpr uint16_t kDevCodeInfo = 0x300B; // bytes 8-11: L, max packet in words
inline constexpr uint16_t kDevCodeGo = 1;
inline constexpr uint16_t kStatusQueryCode = 15;
inline constexpr uint32_t kCodeAreaFlags = 0x5C3E0000;

uint16_t ReadLe16(const uint8_t* p);
uint32_t ReadLe32(const uint8_t* p);
void WriteLe16(uint8_t* p, uint16_t nValue);
void WriteLe32(uint8_t* p, uint32_t dwValue);

// 01 00, code, argument.
std::array<uint8_t, 8> BuildCommandPacket(uint16_t nCode, uint32_t dwArgument);
// 0D F0 02 00 00 00 00 00.
std::array<uint8_t, 8> BuildFinishPacket();
// 00 00 0F 00 00 00 00 00.
std::array<uint8_t, 8> BuildStatusQuery();
// True when the 8 bytes are a status reply (word 0, code 15); dwValue = bytes 4-7.
bool ParseStatusReply(const uint8_t* pPacket, uint32_t& dwValue);

// Full length of a device packet from its 8-byte header: 8 when byte 0 is 0x40,
// else 8 + 4 x the word at bytes 4-5.
uint32_t DevicePacketLength(const uint8_t* pHeader);
// 16-bit code at bytes 2-3.
uint16_t DevicePacketCode(const uint8_t* pHeader);

// Data bytes per block for a maximum packet of nMaxWords 32-bit words (L x 4 - 20).
uint32_t BlockDataSize(uint32_t nMaxWords);

// One data packet's place in a segment.
struct BlockPlan {
    uint32_t dwAddress; // device address of the block's first byte
    uint32_t nOffset;   // offset in the segment
    uint32_t nCount;    // data bytes
};
// Splits a segment into blocks of at most nBlockData bytes; empty for length 0.
std::vector<BlockPlan> PlanBlocks(uint32_t dwAddress, uint32_t nLength, uint32_t nBlockData);

// Builds a data packet in pPacket (room for 20 + nCount + 3 bytes): marker, code 1,
// length ceil(nCount/4)+3, address, flags (dwFlags with bits 1-2 = padding count),
// data, zero padding, CRC over bytes 0-11 and the flags+data. Returns the bytes to
// send (20 + nCount + padding).
uint32_t BuildDataPacket(uint8_t* pPacket, uint32_t dwAddress, const uint8_t* pData,
                         uint32_t nCount, uint32_t dwFlags);

} // namespace fwup
