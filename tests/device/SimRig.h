#pragma once
// A private system root (FWUP_SYSROOT) for simulated devices, and helpers to
// find their ports the way the product does.

#include "TempDir.h"
#include "sim/CSimDevice.h"
#include "sim/CVirtualPort.h"

#include <string>

namespace fwtest {

class CSimRig {
public:
    CSimRig();  // points FWUP_SYSROOT at a fresh directory
    ~CSimRig(); // restores it

    const std::string& Root() const { return m_dir.Path(); }
    // A device with short restart times, so the protocol's own waits dominate.
    fwsim::SimDeviceConfig DeviceConfig(fwsim::Personality eStart) const;
    fwsim::VirtualPortConfig PortConfig() const;
    // The listed name of the first present port, waiting up to dwTimeoutMs; "" when none.
    std::string WaitPortName(uint32_t dwTimeoutMs = 3000) const;
    // Writes a firmware file into the root; returns its path.
    std::string WriteFirmware(const std::string& strName, size_t nSize, unsigned nSeed = 7) const {
        return m_dir.WriteFile(strName, nSize, nSeed);
    }

private:
    CTempDir m_dir;
    std::string m_strPrevious;
    bool m_bHadPrevious = false;
};

} // namespace fwtest
