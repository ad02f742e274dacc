#include "sim/SimCrc32.h"

#include <array>

namespace fwsim {

namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7;

constexpr std::array<uint32_t, 256> MakeTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t dwValue = i << 24;
        for (int nBit = 0; nBit < 8; ++nBit) {
            dwValue = (dwValue & 0x80000000u) ? (dwValue << 1) ^ kPolynomial : dwValue << 1;
        }
        table[i] = dwValue;
    }
    return table;
}

// Built at compile time: no lazy initialisation shared between device threads.
constexpr std::array<uint32_t, 256> kTable = MakeTable();

} // namespace

uint32_t SimCrc32(uint32_t dwCrc, const uint8_t* pData, size_t nCount) {
    for (size_t i = 0; i < nCount; ++i) {
        dwCrc = (dwCrc << 8) ^ kTable[((dwCrc >> 24) ^ pData[i]) & 0xFF];
    }
    return dwCrc;
}

} // namespace fwsim
