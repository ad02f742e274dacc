#include "device/CDeviceLink.h"

namespace fwup {

CDeviceLink::CDeviceLink(CComPort* pPort) : m_pPort(pPort) {}

} // namespace fwup
