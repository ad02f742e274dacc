#include "device/Crc32.h"

namespace fwup {

namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7;

constexpr std::array<uint32_t, 256> BuildTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t dwEntry = i << 24;
        for (int nBit = 0; nBit < 8; ++nBit) {
            dwEntry = (dwEntry & 0x80000000u) != 0 ? (dwEntry << 1) ^ kPolynomial : dwEntry << 1;
        }
        table[i] = dwEntry;
    }
    return table;
}

// Built by the compiler: no first-use race between threads.
constexpr std::array<uint32_t, 256> kTable = BuildTable();

} // namespace

const std::array<uint32_t, 256>& Crc32Table() {
    return kTable;
}

uint32_t Crc32Update(uint32_t dwCrc, const uint8_t* pData, size_t nCount) {
    for (size_t i = 0; i < nCount; ++i) {
        dwCrc = (dwCrc << 8) ^ kTable[((dwCrc >> 24) ^ pData[i]) & 0xFF];
    }
    return dwCrc;
}

} // namespace fwup
