#pragma once
// CFuzzInput: takes the fuzz input apart front to back. Past the end every read
// gives zeros or empty text, so each input, however short, means something.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fwup::fuzz {

class CFuzzInput {
public:
    CFuzzInput(const uint8_t* pData, size_t nSize) : m_pData(pData), m_nSize(nSize) {}

    uint8_t Byte() { return m_nPos < m_nSize ? m_pData[m_nPos++] : 0; }
    uint16_t Word() {
        const uint16_t nLow = Byte();
        return static_cast<uint16_t>(nLow | (Byte() << 8));
    }
    uint32_t Dword() {
        const uint32_t dwLow = Word();
        return dwLow | (static_cast<uint32_t>(Word()) << 16);
    }
    // Up to nCount bytes (fewer at the end).
    std::string Bytes(size_t nCount) {
        const size_t nTake = nCount < Left() ? nCount : Left();
        std::string strBytes(reinterpret_cast<const char*>(m_pData + m_nPos), nTake);
        m_nPos += nTake;
        return strBytes;
    }
    std::string Rest() { return Bytes(Left()); }
    size_t Left() const { return m_nSize - m_nPos; }

private:
    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nPos = 0;
};

} // namespace fwup::fuzz
