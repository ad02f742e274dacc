#pragma once
// Shared fixtures of the simulator's tests: a device on a fresh root with short
// restart times and the host's link to it, plus the host's side of the handshake.

#include "HostLink.h"
#include "sim/CSimDevice.h"
#include "tests/support/CTempRoot.h"

#include <memory>
#include <string>
#include <vector>

namespace fwsim::test {

SimDeviceConfig FastConfig(Personality eStart = Personality::Application);
std::vector<uint8_t> StatusQuery();
// Sends 14 (twice) and 0xF000 and reads info, go and the handshake reply
// (skipping junk packets); true when all three came and the reply carries 14.
bool Handshake(HostLink& host, uint32_t* pdwMaxWords = nullptr);
// True when the host's open descriptor reports the hang-up within nTimeoutMs.
bool WaitForHangup(HostLink& host, int nTimeoutMs);
std::string ReadProduct(const std::string& strRoot, const std::string& strUsbPath);

class SimBench {
public:
    explicit SimBench(SimDeviceConfig config = FastConfig());
    ~SimBench();
    SimDeviceConfig& MutableConfig() { return m_config; } // before Start()
    // Starts the device and opens the host's link to it.
    bool Start();
    // Waits until the device's port is listed and opens the host's link again.
    bool Reconnect(int nTimeoutMs = 2000);
    bool WaitForPersonality(Personality e, int nTimeoutMs);
    HostLink& Host() { return m_host; }
    CSimDevice& Device() { return *m_pDevice; }
    const std::string& Root() const { return m_root.Path(); }

private:
    fwtest::CTempRoot m_root{false};
    SimDeviceConfig m_config;
    std::unique_ptr<CSimDevice> m_pDevice;
    HostLink m_host;
};

} // namespace fwsim::test
