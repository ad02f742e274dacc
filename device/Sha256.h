#pragma once
// SHA-256 (FIPS 180-4) of the image bytes a unit was sent, for the per-unit record.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace fwup {

class CSha256 {
public:
    CSha256();
    void Update(const uint8_t* pData, size_t nCount);
    // The digest; the object must not be updated afterwards.
    std::array<uint8_t, 32> Final();

private:
    void Block(const uint8_t* pBlock);

    std::array<uint32_t, 8> m_state;
    std::array<uint8_t, 64> m_buffer{};
    size_t m_nBuffered = 0;
    uint64_t m_nTotalBytes = 0;
};

// Lower-case hex of the digest of nCount bytes.
std::string Sha256Hex(const uint8_t* pData, size_t nCount);
std::string HexText(const uint8_t* pData, size_t nCount);

} // namespace fwup
