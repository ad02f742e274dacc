#pragma once
// Shared by the benchmarks that plug many simulated readers at once and time them
// from their unit records.

#include "sim/CSimDevice.h"

#include <memory>
#include <string>
#include <vector>

namespace fwbench {

// Starts nReaders simulated readers paced at 115200 baud in the system root
// strRoot: reader i (from 0) on USB path "1-<i+1>" and tty "ttyACM<i>", serial
// strSerialPrefix followed by nFirstSerial + i. Appends them to devices, which
// owns them. False, with the reader named on stderr, when one did not start.
bool StartPacedReaders(const std::string& strRoot, int nReaders, const std::string& strSerialPrefix,
                       int nFirstSerial, std::vector<std::unique_ptr<fwsim::CSimDevice>>& devices);

// The "seconds" of every line of a unit record file, in file order; empty when
// it cannot be read.
std::vector<double> RecordSeconds(const std::string& strRecordFile);

} // namespace fwbench
