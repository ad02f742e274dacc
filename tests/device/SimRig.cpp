#include "SimRig.h"

#include "serial/Clock.h"
#include "serial/PortDiscovery.h"

#include <cstdlib>

namespace fwtest {

CSimRig::CSimRig() {
    if (const char* pszOld = std::getenv("FWUP_SYSROOT")) {
        m_strPrevious = pszOld;
        m_bHadPrevious = true;
    }
    ::setenv("FWUP_SYSROOT", m_dir.Path().c_str(), 1);
}

CSimRig::~CSimRig() {
    if (m_bHadPrevious) {
        ::setenv("FWUP_SYSROOT", m_strPrevious.c_str(), 1);
    } else {
        ::unsetenv("FWUP_SYSROOT");
    }
}

fwsim::SimDeviceConfig CSimRig::DeviceConfig(fwsim::Personality eStart) const {
    fwsim::SimDeviceConfig config;
    config.strRoot = m_dir.Path();
    config.eStart = eStart;
    config.dwAppRestartMs = 100;
    config.dwBootRestartMs = 100;
    config.dwReadyDelayMs = 50;
    return config;
}

fwsim::VirtualPortConfig CSimRig::PortConfig() const {
    fwsim::VirtualPortConfig config;
    config.strRoot = m_dir.Path();
    return config;
}

std::string CSimRig::WaitPortName(uint32_t dwTimeoutMs) const {
    const uint32_t dwStart = fwup::GetTickCount();
    for (;;) {
        const auto names = fwup::EnumeratePorts();
        if (!names.empty()) {
            return names.front();
        }
        if (fwup::TicksSince(dwStart) >= dwTimeoutMs) {
            return std::string();
        }
        fwup::SleepMs(20);
    }
}

} // namespace fwtest
