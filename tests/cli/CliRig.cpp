#include "CliRig.h"

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fwtest {

fwsim::SimDeviceConfig CCliRig::Config(fwsim::Personality eStart, int nIndex) const {
    fwsim::SimDeviceConfig config;
    config.strRoot = Root();
    config.eStart = eStart;
    config.strUsbPath = "1-" + std::to_string(nIndex);
    config.strAppTty = config.strBootTty = "ttyACM" + std::to_string(nIndex - 1);
    config.strSerial = "SN" + std::to_string(1000 + nIndex);
    config.dwAppRestartMs = 100;
    config.dwBootRestartMs = 100;
    return config;
}

fwsim::CSimDevice& CCliRig::AddDevice(const fwsim::SimDeviceConfig& config) {
    m_devices.push_back(std::make_unique<fwsim::CSimDevice>(config));
    if (!m_devices.back()->Start()) {
        throw std::runtime_error("simulated device did not start");
    }
    return *m_devices.back();
}

std::string CCliRig::WriteImage(const std::string& strName, size_t nSize, unsigned nSeed) const {
    return m_root.WriteFile(strName, nSize, nSeed);
}

std::vector<uint8_t> CCliRig::ReadFile(const std::string& strPath) const {
    std::ifstream file(strPath, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

int CCliRig::RunCli(const std::vector<std::string>& args, uint32_t dwLimitMs,
                    std::string& strOutput, double* pSeconds) const {
    CChildProcess cli(FWUP_CLI_PATH, args, {"FWUP_SYSROOT=" + Root()});
    const int nExit = cli.Wait(dwLimitMs);
    strOutput = cli.Output();
    if (pSeconds != nullptr) {
        *pSeconds = cli.Seconds();
    }
    return nExit;
}

std::vector<std::string> SplitLines(const std::string& strText) {
    std::vector<std::string> lines;
    std::istringstream stream(strText);
    for (std::string strLine; std::getline(stream, strLine);) {
        lines.push_back(strLine);
    }
    return lines;
}

} // namespace fwtest
