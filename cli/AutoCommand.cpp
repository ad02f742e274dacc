// fwupgrader-cli auto: the bench loop without a window. Waits for the reader's
// converter, updates it, asks for it to be removed and waits until it has gone,
// then starts over. Ctrl-C ends the loop after the current device.
#include "cli/CConsoleReporter.h"
#include "cli/CliCommands.h"
#include "cli/Console.h"

#include "device/CDeviceSession.h"
#include "device/UpdateJob.h"
#include "serial/CComPort.h"
#include "serial/Clock.h"
#include "serial/PortDiscovery.h"

#include <cstdio>

namespace fwup::cli {

namespace {

const char* const kAutoHelp =
    "usage: fwupgrader-cli auto --file FW.bin [--count N] [--json] [--trace]\n"
    "\n"
    "  --file   the firmware image every device gets\n"
    "  --count  stop after N devices (default: until Ctrl-C)\n"
    "  --json   JSON objects instead of log lines\n"
    "  --trace  the byte trace of the serial line on stderr\n"
    "\n"
    "Ctrl-C ends the loop after the current device; a second Ctrl-C ends it at once.\n";

constexpr const char* kConverterDescription = "AT91 USB to Serial Converter";
constexpr uint32_t kSearchPauseMs = 100;

// Listed names carry a blank before "(COMn)"; the converter's text has none.
bool IsConverter(const std::string& strName) {
    std::string strDescription = PortDescriptionFromName(strName);
    while (!strDescription.empty() && strDescription.back() == ' ') {
        strDescription.pop_back();
    }
    return strDescription == kConverterDescription;
}

std::string FindConverter() {
    for (const std::string& strName : EnumeratePorts()) {
        if (IsConverter(strName)) {
            return strName;
        }
    }
    return {};
}

} // namespace

int RunAuto(const std::vector<std::string>& args) {
    JobOptions options;
    std::string strError;
    if (!ParseJobOptions(args, true, options, strError)) {
        std::fprintf(stderr, "fwupgrader-cli auto: %s\n\n%s", strError.c_str(), kAutoHelp);
        return kExitUsage;
    }
    if (options.bHelp) {
        std::printf("%s\n%s", kAutoHelp, ExitCodeHelp().c_str());
        return kExitOk;
    }
    if (options.bTrace) {
        EnableTrace();
    }
    InstallStopHandler();
    CConsoleReporter reporter(stdout, options.bJson, IsTerminal(stdout));
    UpdateRequest request;
    request.strFirmwarePath = options.strFile;
    int nPassed = 0;
    int nFailed = 0;

    while (!StopRequested() && (options.nCount == 0 || nPassed + nFailed < options.nCount)) {
        reporter.Line("detecting device ...");
        std::string strName;
        while (!StopRequested() && (strName = FindConverter()).empty()) {
            SleepMs(kSearchPauseMs);
        }
        if (strName.empty()) {
            break;
        }
        reporter.Line("updating device ...");
        CDeviceSession session(strName);
        const UpdateOutcome outcome =
            RunUpdate(session, request, &reporter, &CConsoleReporter::OnStatus);
        CComPort& port = session.Port();
        // Also after a failure the port is released before the operator unplugs.
        port.Close();
        (outcome.Succeeded() ? nPassed : nFailed) += 1;
        reporter.Line("devices passed: " + std::to_string(nPassed) +
                      ", failed: " + std::to_string(nFailed));
        reporter.Line("Remove the device");
        // Instead of an OK button: wait until the device's port has gone.
        while (!StopRequested() && port.IsPresent()) {
            SleepMs(kSearchPauseMs);
        }
    }
    reporter.Line("auto mode ended: devices passed: " + std::to_string(nPassed) +
                  ", failed: " + std::to_string(nFailed));
    return nFailed == 0 ? kExitOk : kExitSomeFailed;
}

} // namespace fwup::cli
