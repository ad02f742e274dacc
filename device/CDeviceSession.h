#pragma once
// CDeviceSession: one device's whole conversation. It owns the port, the link
// (timings, packet buffer, stop request) and runs that device's jobs on the
// calling thread. Sessions on different ports share nothing and run
// concurrently; a second session on a held port cannot open it (exclusive open).

#include "device/CDeviceLink.h"
#include "device/ProtocolTimings.h"
#include "serial/CComPort.h"

#include <memory>
#include <string>

namespace fwup {

class CDeviceSession {
public:
    // Takes ownership of the port, open or not (a job waits for a closed one).
    explicit CDeviceSession(std::unique_ptr<CComPort> pPort, const ProtocolTimings& timings = {});
    // Makes the port from a listed name, or "(COMn)" for a number not listed yet;
    // it opens at once when present.
    explicit CDeviceSession(const std::string& strDeviceName, const ProtocolTimings& timings = {});
    CDeviceSession(const CDeviceSession&) = delete;
    CDeviceSession& operator=(const CDeviceSession&) = delete;

    CComPort& Port() { return *m_pPort; }
    const CComPort& Port() const { return *m_pPort; }
    CDeviceLink& Link() { return m_link; }
    const ProtocolTimings& Timings() const { return m_link.Timings(); }

    // Asks the running job to stop: at once before the download, at the next
    // packet boundary during it. Safe from any thread, including a signal
    // handler's helper thread.
    void RequestStop() { m_link.RequestStop(); }
    bool StopRequested() const { return m_link.StopRequested(); }

private:
    std::unique_ptr<CComPort> m_pPort;
    CDeviceLink m_link;
};

} // namespace fwup
