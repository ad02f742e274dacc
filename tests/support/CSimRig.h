#pragma once
// A private system root (FWUP_SYSROOT) for simulated devices, the shortened
// protocol timings the fast tests run with, and helpers to find ports the way
// the product does.

#include "device/ProtocolTimings.h"
#include "sim/CSimDevice.h"
#include "sim/CVirtualPort.h"
#include "tests/support/CTempRoot.h"

#include <string>

namespace fwtest {

// The device's waits divided by ten: every deadline still far above what the
// simulator needs (a reply comes within milliseconds), none a real second.
fwup::ProtocolTimings TestTimings();

class CSimRig {
public:
    CSimRig() = default; // points FWUP_SYSROOT at a fresh directory until destroyed
    // The same with the root's name fixed (see CTempRoot).
    explicit CSimRig(const std::string& strRootName) : m_root(true, strRootName) {}

    const std::string& Root() const { return m_root.Path(); }
    // A device whose restart and ready delays fit TestTimings().
    fwsim::SimDeviceConfig DeviceConfig(fwsim::Personality eStart,
                                        const std::string& strUsbPath = "1-1") const;
    fwsim::VirtualPortConfig PortConfig() const;
    // The listed name of the first present port, waiting up to dwTimeoutMs; "" when none.
    std::string WaitPortName(uint32_t dwTimeoutMs = 3000) const;
    // Writes a firmware file into the root; returns its path.
    std::string WriteFirmware(const std::string& strName, size_t nSize, unsigned nSeed = 7) const {
        return m_root.WriteFile(strName, nSize, nSeed);
    }

private:
    CTempRoot m_root;
};

} // namespace fwtest
