#pragma once
// The boot loader's CRC-32: polynomial 0x04C11DB7, most significant bit first,
// initial value 0, no final XOR ("123456789" gives 0x89A1897F). Written here
// from the wire format alone, independently of the host's implementation.

#include <cstddef>
#include <cstdint>

namespace fwsim {

// Continues dwCrc over nCount bytes; start a new CRC with 0.
uint32_t SimCrc32(uint32_t dwCrc, const uint8_t* pData, size_t nCount);

} // namespace fwsim
