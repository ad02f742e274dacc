#pragma once
// CDeviceLink: what a protocol procedure talks through. It borrows one port and
// owns what used to be shared by every port: the timings, the receive buffer of
// the last boot-loader packet and the stop request. One link per device session;
// links of different ports run concurrently, one link is used by one thread at a time.

#include "device/ProtocolTimings.h"
#include "serial/CComPort.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace fwup {

inline constexpr uint32_t kReceiveBufferSize = 256;

class CDeviceLink {
public:
    explicit CDeviceLink(CComPort* pPort, const ProtocolTimings& timings = {});

    CComPort& Port() const { return *m_pPort; }
    const ProtocolTimings& Timings() const { return m_timings; }

    // Asks a running download to stop at the next packet boundary (any thread).
    void RequestStop() { m_bStopRequested.store(true); }
    bool StopRequested() const { return m_bStopRequested.load(); }

    CComPort* m_pPort; // not owned
    ProtocolTimings m_timings;
    // The last packet ReceivePacket took in: its bytes (256 kept) and full length.
    std::array<uint8_t, kReceiveBufferSize> m_receive{};
    uint32_t m_nReceived = 0;
    uint32_t m_nPacketLength = 0;

private:
    std::atomic<bool> m_bStopRequested{false};
};

} // namespace fwup
