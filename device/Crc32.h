#pragma once
// CRC-32 of the boot loader's data packets: polynomial 0x04C11DB7, most
// significant bit first, initial value 0, no final XOR ("123456789" gives
// 0x89A1897F). The table is a compile-time constant, safe from any thread.

#include <array>
#include <cstddef>
#include <cstdint>

namespace fwup {

// Continues dwCrc over nCount bytes; start with 0.
uint32_t Crc32Update(uint32_t dwCrc, const uint8_t* pData, size_t nCount);

// The 256-entry table.
const std::array<uint32_t, 256>& Crc32Table();

} // namespace fwup
