#pragma once
// The boot loader's packets as the device sees them: recognising and sizing the
// host's packets, checking a data packet, and building the device's own packets.
// Every packet begins with an 8-byte header, values little-endian. Device packets
// count their payload in 32-bit words at bytes 4-5, so every packet built here
// has exactly 8 + 4 * word-count bytes and never a 0x40 first byte.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fwsim {

inline constexpr size_t kHeaderSize = 8;
inline constexpr uint16_t kDataMarker = 0xF00D;  // bytes 0-1 of data and finish packets
inline constexpr uint16_t kCommandKind = 1;      // bytes 0-1 of host command packets
inline constexpr uint16_t kCodeData = 1;         // with kDataMarker
inline constexpr uint16_t kCodeFinish = 2;       // with kDataMarker
inline constexpr uint16_t kCodeStatusQuery = 15; // with bytes 0-1 = 0
inline constexpr uint16_t kCodeAreaFlags = 14;   // command: argument = area flags word
inline constexpr uint16_t kCodeBegin = 0xF000;   // command: argument 1 starts a download
inline constexpr uint16_t kCodeInfo = 0x300B;    // device: maximum packet size at bytes 8-11
inline constexpr uint16_t kCodeGo = 1;           // device: ready for data packets

// Status words at bytes 12-15 of a reply.
inline constexpr uint32_t kStatusAccepted = 0;
inline constexpr uint32_t kStatusBadPacket = 7; // a data packet failed a check
inline constexpr uint32_t kHandshakeValue = 14; // reply to the start of a download
inline constexpr uint32_t kFinishStatus = 9;    // the image is complete
inline constexpr uint32_t kFinishEcho = 2;      // echo of the finish code

uint16_t GetLe16(const uint8_t* p);
uint32_t GetLe32(const uint8_t* p);
void PutLe16(uint8_t* p, uint16_t wValue);
void PutLe32(uint8_t* p, uint32_t dwValue);

enum class HostPacket { Unknown, StatusQuery, Command, Data, Finish };

// What an 8-byte header starts.
HostPacket ClassifyHeader(const uint8_t* pHeader);
// Whole size in bytes of the packet that pHeader starts (8 for all but data packets).
size_t HostPacketSize(const uint8_t* pHeader);

struct DataBlock {
    uint32_t dwAddress = 0;
    uint32_t dwFlags = 0;
    size_t nDataOffset = 20; // offset of the data within the packet
    size_t nLength = 0;      // data bytes, padding excluded
};

// Checks a whole data packet of nSize bytes against the device's limits: marker
// and code, length field against nSize, total size within dwMaxWords words,
// flags (only bit 0 and the padding count in bits 1-2), zero padding, CRC, and
// the block inside [dwFlashBase, dwFlashBase + dwFlashSize). True and the block
// when the packet is good.
bool CheckDataPacket(const uint8_t* pPacket, size_t nSize, uint32_t dwMaxWords,
                     uint32_t dwFlashBase, uint32_t dwFlashSize, DataBlock& block);

// The CRC a data packet carries: over bytes 0-11, then over flags and data.
uint32_t DataPacketCrc(const uint8_t* pPacket, size_t nDataLength);

// Device packets.
std::vector<uint8_t> MakeStatusReply(uint32_t dwValue);               // 8 bytes
std::vector<uint8_t> MakeInfoPacket(uint32_t dwMaxWords, bool bLong); // 16, or 20 when bLong
std::vector<uint8_t> MakeGoPacket();                                  // 8 bytes
std::vector<uint8_t> MakeReply(uint16_t wCode, uint32_t dwEcho, uint32_t dwStatus); // 16 bytes
// 8-byte noise packet: code 0x0BAD, no payload. Never taken for a status reply,
// an info or a go packet, so a host that skips unknown packets is not misled.
std::vector<uint8_t> MakeJunkPacket();

// Host packets, for tests and tools.
std::vector<uint8_t> MakeHostCommand(uint16_t wCode, uint32_t dwArgument);
std::vector<uint8_t> MakeHostDataPacket(uint32_t dwAddress, uint32_t dwAreaFlags,
                                        const uint8_t* pData, size_t nLength);
std::vector<uint8_t> MakeHostFinish();

} // namespace fwsim
