#include "bench/SimReaders.h"

#include <cstdio>
#include <fstream>

namespace fwbench {

bool StartPacedReaders(const std::string& strRoot, int nReaders, const std::string& strSerialPrefix,
                       int nFirstSerial, std::vector<std::unique_ptr<fwsim::CSimDevice>>& devices) {
    for (int i = 0; i < nReaders; ++i) {
        fwsim::SimDeviceConfig config;
        config.strRoot = strRoot;
        config.bPaced = true;
        config.strUsbPath = "1-" + std::to_string(i + 1);
        config.strAppTty = config.strBootTty = "ttyACM" + std::to_string(i);
        config.strSerial = strSerialPrefix + std::to_string(nFirstSerial + i);
        devices.push_back(std::make_unique<fwsim::CSimDevice>(config));
        if (!devices.back()->Start()) {
            std::fprintf(stderr, "simulated reader %d did not start\n", i + 1);
            return false;
        }
    }
    return true;
}

std::vector<double> RecordSeconds(const std::string& strRecordFile) {
    std::vector<double> seconds;
    std::ifstream file(strRecordFile);
    for (std::string strLine; std::getline(file, strLine);) {
        const size_t nAt = strLine.find("\"seconds\":");
        if (nAt != std::string::npos) {
            seconds.push_back(std::stod(strLine.substr(nAt + 10)));
        }
    }
    return seconds;
}

} // namespace fwbench
