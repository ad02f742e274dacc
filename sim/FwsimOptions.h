#pragma once
// Command line of the fwsim executable: parsing into device configurations and
// the naming rule for a bench of several devices. Kept apart from main() so the
// tests can call it.

#include "sim/SimConfig.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fwsim {

struct FwsimOptions {
    SimDeviceConfig device; // device 1; the others follow DeviceConfigFor()
    int nDevices = 1;
    uint32_t dwPlugDelayMs = 0; // device k (from 1) appears (k-1) * this after start
    bool bHelp = false;
    bool bShowVersion = false; // "--version" alone: the program's own version
};

// Parses the arguments after the program name. False and a message on a bad,
// unknown or incomplete option, or when --root is missing (unless --help).
// "--version" with a value sets the simulated firmware's version; as the only
// argument it asks for the program's own version (bShowVersion).
bool ParseFwsimOptions(const std::vector<std::string>& args, FwsimOptions& options,
                       std::string& strError);

std::string FwsimUsage();

// The configuration of device nIndex (1-based): USB path, tty names and the
// flash file follow the base names with the trailing number raised by nIndex-1
// ("1-1" -> "1-2", "ttyACM0" -> "ttyACM1"); with more than one device the flash
// file gets "-<k>" before its extension ("out.bin" -> "out-2.bin").
SimDeviceConfig DeviceConfigFor(const FwsimOptions& options, int nIndex);

// strBase with its trailing decimal number raised by nAdd ("ttyACM0", 2 -> "ttyACM2");
// a name without a trailing number gets one appended ("ttyX", 1 -> "ttyX1").
std::string RaiseTrailingNumber(const std::string& strBase, int nAdd);

} // namespace fwsim
