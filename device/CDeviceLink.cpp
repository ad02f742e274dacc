#include "device/CDeviceLink.h"

namespace fwup {

CDeviceLink::CDeviceLink(CComPort* pPort, const ProtocolTimings& timings)
    : m_pPort(pPort), m_timings(timings) {}

} // namespace fwup
