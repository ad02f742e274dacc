#include "device/CDeviceSession.h"

namespace fwup {

namespace {

// The queue sizes the device tool asks for; kept for the record (termios has none).
constexpr uint32_t kOutQueue = 1024;
constexpr uint32_t kInQueue = 20480;

} // namespace

CDeviceSession::CDeviceSession(std::unique_ptr<CComPort> pPort, const ProtocolTimings& timings)
    : m_pPort(std::move(pPort)), m_link(m_pPort.get(), timings) {}

CDeviceSession::CDeviceSession(const std::string& strDeviceName, const ProtocolTimings& timings)
    : CDeviceSession(std::make_unique<CComPort>(strDeviceName, kOutQueue, kInQueue), timings) {}

} // namespace fwup
