#include "sim/CPacketFramer.h"

#include "sim/SimPackets.h"

namespace fwsim {

void CPacketFramer::Append(const uint8_t* pData, size_t nCount) {
    m_buffer.insert(m_buffer.end(), pData, pData + nCount);
}

bool CPacketFramer::Take(std::vector<uint8_t>& packet) {
    size_t nSkip = 0;
    while (m_buffer.size() - nSkip >= kHeaderSize &&
           ClassifyHeader(m_buffer.data() + nSkip) == HostPacket::Unknown) {
        ++nSkip;
    }
    if (nSkip > 0) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(nSkip));
    }
    if (m_buffer.size() < kHeaderSize) {
        return false;
    }
    const size_t nSize = HostPacketSize(m_buffer.data());
    if (m_buffer.size() < nSize) {
        return false;
    }
    packet.assign(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(nSize));
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(nSize));
    return true;
}

void CPacketFramer::TakeIncomplete(std::vector<uint8_t>& packet) {
    packet = std::move(m_buffer);
    m_buffer.clear();
}

} // namespace fwsim
