// fwupgrader-cli identify: the connect step alone, to see what is plugged in
// without flashing it.
#include "cli/CliCommands.h"

#include "device/BootLoaderVersion.h"
#include "device/FirmwareFile.h"
#include "device/ProtocolTimings.h"
#include "device/UpdateOutcome.h"
#include "device/UpdateRequest.h"
#include "serial/Utf8Text.h"
#include "workflows/ConnectStep.h"

#include <cstdio>

namespace fwup::cli {

namespace {

const char* const kIdentifyHelp =
    "usage: fwupgrader-cli identify --port NAME|COMn|NODE [--json]\n"
    "\n"
    "  --port  the port: its listed name (see 'list'), COMn, or its device node\n"
    "  --json  one JSON object instead of a line\n"
    "\n"
    "Opens the port as Connect in the window does and asks who answers: the boot\n"
    "loader (its version) or the application (its version and serial number).\n"
    "Nothing is written to the reader. Takes up to about 15 s when nothing answers.\n"
    "Exit code 0 when a reader answered, 10 when the port does not open, 11 when\n"
    "nothing answered.\n";

} // namespace

bool CheckFirmwareFile(const char* pszCommand, const std::string& strFile) {
    UpdateRequest probe;
    uint32_t dwAreaFlags = 0;
    if (LoadFirmware(probe, strFile, dwAreaFlags) == 0) {
        return true;
    }
    // The same two lines as a job's failure: the text, then why.
    std::fprintf(stderr, "fwupgrader-cli %s: %s\ncause: %s\n", pszCommand,
                 OutcomeText(OutcomeKind::InvalidFirmware),
                 DescribeFirmwareProblem(strFile).c_str());
    return false;
}

int RunIdentify(const std::vector<std::string>& args) {
    std::string strPort;
    bool bJson = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(kIdentifyHelp, stdout);
            return kExitOk;
        }
        if (args[i] == "--json") {
            bJson = true;
        } else if (args[i] == "--port" && i + 1 < args.size()) {
            strPort = args[++i];
        } else {
            std::fprintf(stderr, "fwupgrader-cli identify: %s '%s'\n\n%s",
                         args[i] == "--port" ? "needs a value:" : "unknown option", args[i].c_str(),
                         kIdentifyHelp);
            return kExitUsage;
        }
    }
    const std::string strName = strPort.empty() ? std::string() : ResolvePortName(strPort);
    if (strName.empty()) {
        std::fprintf(stderr,
                     "fwupgrader-cli identify: %s; use a name from 'fwupgrader-cli list', COMn "
                     "or a device node\n",
                     strPort.empty() ? "--port is required"
                                     : ("'" + strPort + "' names no port").c_str());
        return kExitUsage;
    }
    const ConnectResult result = ConnectDevice(strName, ProtocolTimings{});
    std::string strKind;
    std::string strLine;
    int nExit = kExitOk;
    switch (result.eKind) {
    case ConnectKind::BootLoader:
        strKind = "boot loader";
        strLine = BootVersionText(result.nBootInfo);
        break;
    case ConnectKind::Application:
        strKind = "application";
        strLine = "application " + result.optVersion.value_or("") + ", serial number " +
                  result.optSerial.value_or("(none)");
        break;
    case ConnectKind::NoAnswer:
        strKind = "no answer";
        strLine = "nothing answered on " + strName;
        nExit = OutcomeExitCode(OutcomeKind::NotDetected);
        break;
    case ConnectKind::PortNotOpen:
        strKind = "port not open";
        strLine =
            strName + " does not open" + (result.strCause.empty() ? "" : ": " + result.strCause);
        nExit = OutcomeExitCode(OutcomeKind::CheckConnection);
        break;
    }
    if (bJson) {
        std::printf(
            "{\"port\":\"%s\",\"node\":\"%s\",\"answer\":\"%s\",\"boot_version\":%s,"
            "\"version\":%s,\"serial\":%s}\n",
            JsonEscape(strName).c_str(), JsonEscape(result.strDeviceNode).c_str(), strKind.c_str(),
            JsonStringOrNull(result.eKind == ConnectKind::BootLoader
                                 ? std::optional<std::string>(BootLoaderVersion(result.nBootInfo))
                                 : std::nullopt)
                .c_str(),
            JsonStringOrNull(result.optVersion).c_str(),
            JsonStringOrNull(result.optSerial).c_str());
    } else {
        std::printf("%s\n", DisplayText(strLine).c_str()); // reader texts may hold ESC, BEL, CR
    }
    return nExit;
}

} // namespace fwup::cli
