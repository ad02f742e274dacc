// fwupgrader-cli update: one update job with a console status callback.
#include "cli/CConsoleReporter.h"
#include "cli/CliCommands.h"
#include "cli/Console.h"

#include "device/UpdateJob.h"
#include "serial/CComPort.h"
#include "serial/DebugChannel.h"
#include "serial/PortDiscovery.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace fwup::cli {

namespace {

const char* const kUpdateHelp =
    "usage: fwupgrader-cli update --port NAME|COMn|NODE --file FW.bin [--json] [--trace]\n"
    "\n"
    "  --port   the port: its listed name (see 'list'), COMn, or its device node\n"
    "  --file   the firmware image (raw CODE area, at most 176128 bytes)\n"
    "  --json   one JSON object per reported stage instead of log lines\n"
    "  --trace  the byte trace of the serial line on stderr\n";

} // namespace

const char* ExitCodeHelp() {
    return "exit codes:\n"
           "   0  FW Update Successful!\n"
           "   2  bad command line\n"
           "  10  check connection\n"
           "  11  device not detected\n"
           "  12  invalid firmware file\n"
           "  13  boot loader failed. check connection\n"
           "  14  Communication Error\n"
           "  15  auto: at least one device failed\n";
}

int ExitCodeForOutcome(bool bSuccess, const std::string& strMessage) {
    if (bSuccess) {
        return kExitOk;
    }
    const std::pair<const char*, int> codes[] = {
        {kTextCheckConnection, kExitCheckConnection},  {kTextNotDetected, kExitNotDetected},
        {kTextInvalidFirmware, kExitInvalidFirmware},  {kTextBootFailed, kExitBootFailed},
        {kTextCommunicationError, kExitCommunication},
    };
    for (const auto& [pszText, nCode] : codes) {
        if (strMessage == pszText) {
            return nCode;
        }
    }
    return kExitUnknownFailure;
}

bool ParseJobOptions(const std::vector<std::string>& args, bool bAuto, JobOptions& options,
                     std::string& strError) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& strArg = args[i];
        auto value = [&](std::string& strOut) {
            if (i + 1 >= args.size()) {
                strError = strArg + " needs a value";
                return false;
            }
            strOut = args[++i];
            return true;
        };
        if (strArg == "--help" || strArg == "-h") {
            options.bHelp = true;
        } else if (strArg == "--json") {
            options.bJson = true;
        } else if (strArg == "--trace") {
            options.bTrace = true;
        } else if (strArg == "--file") {
            if (!value(options.strFile)) {
                return false;
            }
        } else if (strArg == "--port" && !bAuto) {
            if (!value(options.strPort)) {
                return false;
            }
        } else if (strArg == "--count" && bAuto) {
            std::string strCount;
            if (!value(strCount)) {
                return false;
            }
            char* pEnd = nullptr;
            const long nCount = std::strtol(strCount.c_str(), &pEnd, 10);
            if (pEnd == strCount.c_str() || *pEnd != '\0' || nCount < 0 || nCount > 1000000) {
                strError = "--count needs a number of devices, got '" + strCount + "'";
                return false;
            }
            options.nCount = static_cast<int>(nCount);
        } else {
            strError = "unknown option '" + strArg + "'";
            return false;
        }
    }
    if (options.bHelp) {
        return true;
    }
    if (options.strFile.empty()) {
        strError = "--file FW.bin is required";
        return false;
    }
    if (!bAuto && options.strPort.empty()) {
        strError = "--port NAME|COMn is required (see 'fwupgrader-cli list')";
        return false;
    }
    return true;
}

std::string ResolvePortName(const std::string& strPort) {
    const std::vector<PortEntry> ports = ScanPorts();
    int nWanted = 0;
    if (strPort.size() > 3 && strPort.compare(0, 3, "COM") == 0) {
        char* pEnd = nullptr;
        const long n = std::strtol(strPort.c_str() + 3, &pEnd, 10);
        if (*pEnd == '\0' && n > 0 && n < 100000) {
            nWanted = static_cast<int>(n);
        }
    }
    std::error_code ec;
    const std::filesystem::path wantedNode = std::filesystem::weakly_canonical(strPort, ec);
    for (const PortEntry& entry : ports) {
        if (entry.strName == strPort || entry.strDeviceNode == strPort ||
            (nWanted != 0 && entry.nPort == nWanted)) {
            return entry.strName;
        }
        if (!ec && strPort.find('/') != std::string::npos &&
            std::filesystem::weakly_canonical(entry.strDeviceNode, ec) == wantedNode) {
            return entry.strName;
        }
    }
    if (nWanted != 0) {
        return "(COM" + std::to_string(nWanted) + ")";
    }
    if (CComPort::PortNumberFromName(strPort) > 0) {
        return strPort; // a listed name whose port is not present yet
    }
    return {};
}

void EnableTrace() {
    SetDebugSink([](const std::string& strLine) { std::fputs(strLine.c_str(), stderr); });
}

int RunUpdate(const std::vector<std::string>& args) {
    JobOptions options;
    std::string strError;
    if (!ParseJobOptions(args, false, options, strError)) {
        std::fprintf(stderr, "fwupgrader-cli update: %s\n\n%s", strError.c_str(), kUpdateHelp);
        return kExitUsage;
    }
    if (options.bHelp) {
        std::printf("%s\n%s", kUpdateHelp, ExitCodeHelp());
        return kExitOk;
    }
    const std::string strName = ResolvePortName(options.strPort);
    if (strName.empty()) {
        std::fprintf(stderr,
                     "fwupgrader-cli update: '%s' names no port; use a name from "
                     "'fwupgrader-cli list', COMn or a device node\n",
                     options.strPort.c_str());
        return kExitUsage;
    }
    if (options.bTrace) {
        EnableTrace();
    }
    CConsoleReporter reporter(stdout, options.bJson, IsTerminal(stdout));
    UpdateRequest request;
    request.strFirmwarePath = options.strFile;
    CComPort port(strName, 1024, 20480);
    if (!options.bJson && port.IsOpen()) {
        reporter.Line("port " + port.GetLabel() + " at " + port.GetDeviceNode());
    }
    RunUpdate(port, request, &reporter, &CConsoleReporter::OnStatus);
    return ExitCodeForOutcome(reporter.Succeeded(), reporter.FinalMessage());
}

} // namespace fwup::cli
