#include "tests/support/CSimRig.h"

#include "serial/Clock.h"
#include "serial/PortDiscovery.h"

namespace fwtest {

fwup::ProtocolTimings TestTimings() {
    return fwup::ProtocolTimings::Scaled(10);
}

fwsim::SimDeviceConfig CSimRig::DeviceConfig(fwsim::Personality eStart,
                                             const std::string& strUsbPath) const {
    fwsim::SimDeviceConfig config;
    config.strRoot = m_root.Path();
    config.strUsbPath = strUsbPath;
    config.eStart = eStart;
    config.dwAppRestartMs = 100;
    config.dwBootRestartMs = 100;
    config.dwReadyDelayMs = 50;
    return config;
}

fwsim::VirtualPortConfig CSimRig::PortConfig() const {
    fwsim::VirtualPortConfig config;
    config.strRoot = m_root.Path();
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
