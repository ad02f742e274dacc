// fwupgrader-cli doctor on Windows: each listed COM port and whether this user
// can open it now (Windows refuses a port that another program holds).
#include "cli/CliCommands.h"

#include "serial/CComPort.h"
#include "serial/PortDiscovery.h"
#include "serial/PortOpenError.h"

#include <cstdio>

namespace fwup::cli {

namespace {

const char* const kDoctorHelp = "usage: fwupgrader-cli doctor\n"
                                "\n"
                                "Lists every COM port with whether it can be opened now, and\n"
                                "why not. Exit code 0 when nothing blocks a reader, 1 otherwise.\n";

const char* const kReaderDescription = "AT91 USB to Serial Converter";

} // namespace

int RunDoctor(const std::vector<std::string>& args) {
    for (const std::string& strArg : args) {
        if (strArg == "--help" || strArg == "-h") {
            std::fputs(kDoctorHelp, stdout);
            return kExitOk;
        }
        std::fprintf(stderr, "fwupgrader-cli doctor: unknown option '%s'\n\n%s", strArg.c_str(),
                     kDoctorHelp);
        return kExitUsage;
    }
    bool bBlocked = false;
    const std::vector<PortRecord> ports = ScanPorts();
    if (ports.empty()) {
        std::puts("warn  no COM port is present: plug in the reader");
    }
    for (const PortRecord& record : ports) {
        const CComPort port(record);
        const bool bReader = record.strDescription == kReaderDescription;
        if (port.IsOpen()) {
            std::printf("ok    %s opens\n", record.strName.c_str());
            continue;
        }
        bBlocked = bBlocked || bReader;
        std::printf("%s %s: %s\n", bReader ? "block" : "warn ", record.strName.c_str(),
                    DescribeOpenError(port.GetOpenError()).c_str());
    }
    return bBlocked ? kExitDoctorFound : kExitOk;
}

} // namespace fwup::cli
