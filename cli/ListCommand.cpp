// fwupgrader-cli list: one line per present port, its listed name and device node.
#include "cli/CliCommands.h"

#include "serial/PortDiscovery.h"
#include "workflows/JsonText.h"

#include <cstdio>

namespace fwup::cli {

int RunList(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "fwupgrader-cli list: unexpected argument '%s'\n", args[0].c_str());
        return kExitUsage;
    }
    for (const PortRecord& entry : ScanPorts()) {
        // A USB product text may hold line ends or terminal controls: one port, one line.
        std::printf("%s\t%s\n", DisplayText(entry.strName).c_str(),
                    DisplayText(entry.strDeviceNode).c_str());
    }
    return kExitOk;
}

} // namespace fwup::cli
