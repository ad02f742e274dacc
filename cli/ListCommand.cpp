// fwupgrader-cli list: one line per present port, tab-separated: its listed name,
// device node and connector (USB path plus interface, what a slots file names).
// Columns are only ever added at the end, so scripts that cut the first two go on.
#include "cli/CliCommands.h"

#include "serial/PortDiscovery.h"
#include "serial/Utf8Text.h"

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
        // A USB product text may hold line ends or terminal controls: one port, one line.
        std::printf("%s\t%s\t%s\n", DisplayText(entry.strName).c_str(),
                    DisplayText(entry.strDeviceNode).c_str(),
                    DisplayText(entry.strConnector).c_str());
    }
    return kExitOk;
}

} // namespace fwup::cli
