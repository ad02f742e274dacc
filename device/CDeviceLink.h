#pragma once
// CDeviceLink: the port a protocol procedure talks through. Borrowed, never owned;
// each procedure (EnterBootLoader, DetectDevice, CBlockLoader) makes its own.

#include "serial/CComPort.h"

namespace fwup {

class CDeviceLink {
public:
    explicit CDeviceLink(CComPort* pPort);

    CComPort* m_pPort; // not owned
};

} // namespace fwup
