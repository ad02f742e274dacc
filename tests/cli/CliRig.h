#pragma once
// A private system root with simulated devices, and fwupgrader-cli run against it.

#include "sim/CSimDevice.h"
#include "tests/support/CChildProcess.h"
#include "tests/support/CTempRoot.h"

#include <memory>
#include <string>
#include <vector>

namespace fwtest {

class CCliRig {
public:
    // A device config with short restart times below this rig's root.
    fwsim::SimDeviceConfig Config(fwsim::Personality eStart, int nIndex = 1) const;
    fwsim::CSimDevice& AddDevice(const fwsim::SimDeviceConfig& config);

    // A file of nSize pseudo-random bytes in the root.
    std::string WriteImage(const std::string& strName, size_t nSize, unsigned nSeed = 1) const;
    std::vector<uint8_t> ReadFile(const std::string& strPath) const;

    // Runs the CLI to its end (killed after dwLimitMs); returns its exit code.
    int RunCli(const std::vector<std::string>& args, uint32_t dwLimitMs, std::string& strOutput,
               double* pSeconds = nullptr) const;

    const std::string& Root() const { return m_root.Path(); }

private:
    CTempRoot m_root{false};
    std::vector<std::unique_ptr<fwsim::CSimDevice>> m_devices;
};

// Lines of a text.
std::vector<std::string> SplitLines(const std::string& strText);

} // namespace fwtest
