// fwupgrader-cli list: one line per present port, its listed name and device node.
#include "cli/CliCommands.h"

#include "serial/PortDiscovery.h"

#include <cstdio>

namespace fwup::cli {

int RunList(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "fwupgrader-cli list: unexpected argument '%s'\n", args[0].c_str());
        return kExitUsage;
    }
    const std::vector<PortRecord> ports = ScanPorts();
    if (ports.empty()) {
        // stdout stays empty for scripts; the person at the terminal learns why.
        std::fputs("fwupgrader-cli list: no USB serial port is present; "
                   "'fwupgrader-cli doctor' says what stands in the way\n",
                   stderr);
    }
    for (const PortRecord& entry : ports) {
        std::printf("%s\t%s\n", entry.strName.c_str(), entry.strDeviceNode.c_str());
    }
    return kExitOk;
}

} // namespace fwup::cli
