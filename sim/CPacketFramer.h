#pragma once
// CPacketFramer: cuts the host's boot loader packets out of the byte stream.
// Packets are recognised by their 8-byte header (SimPackets.h); a header that
// starts no known packet loses its first byte, so the framer slides over text
// such as a "~dboot" line and resynchronises on the next real header.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fwsim {

class CPacketFramer {
public:
    void Append(const uint8_t* pData, size_t nCount);
    // Takes the next whole packet into packet; false when none is complete yet.
    bool Take(std::vector<uint8_t>& packet);
    // Bytes of an incomplete packet (or of a header still being gathered).
    size_t Pending() const { return m_buffer.size(); }
    // Drops the incomplete rest into packet and empties the framer.
    void TakeIncomplete(std::vector<uint8_t>& packet);
    void Reset() { m_buffer.clear(); }

private:
    std::vector<uint8_t> m_buffer;
};

} // namespace fwsim
