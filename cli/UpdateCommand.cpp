// fwupgrader-cli update: one update job, and its retries, reported on the console.
#include "cli/CConsoleReporter.h"
#include "cli/CInterruptWatch.h"
#include "cli/CliCommands.h"
#include "cli/Console.h"

#include "device/CDeviceSession.h"
#include "device/DeviceUnit.h"
#include "device/UpdateOutcome.h"
#include "records/CRecordingObserver.h"
#include "records/CUnitRecordLog.h"
#include "serial/CComPort.h"
#include "serial/DebugChannel.h"
#include "serial/PortDiscovery.h"
#include "workflows/CRetryingJob.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace fwup::cli {

namespace {

const char* const kUpdateHelp =
    "usage: fwupgrader-cli update --port NAME|COMn|NODE --file FW.bin [--record STORE]\n"
    "                             [--station NAME] [--retries N] [--profile FILE]\n"
    "                             [--expect-version V] [--no-verify] [--json] [--trace]\n"
    "\n"
    "  --port    the port: its listed name (see 'list'), COMn, or its device node\n"
    "  --file    the firmware image (raw CODE area, at most 176128 bytes)\n"
    "  --record  keep the unit's record in STORE: a postgresql:// URI, a .db/.sqlite\n"
    "            file (SQLite) or any other file (JSON lines)\n"
    "  --station the station named in the record (default: this computer's name)\n"
    "  --retries run the job again up to N times (default 0) when it ended in\n"
    "            \"Communication Error\" or \"boot loader failed. check connection\"\n"
    "            and the reader's port is listed again; each attempt has its record\n"
    "  --expect-version  the version the image brings: a reader already reporting\n"
    "            it is left alone (\"current\"), one reporting another after the\n"
    "            download fails (\"verify failed\")\n"
    "  --no-verify  send nothing after the finish reply (by default the reader is\n"
    "            waited for, up to 10 s, and asked its version and serial number)\n"
    "  --json    one JSON object per reported stage instead of log lines\n"
    "  --trace   the byte trace of the serial line on stderr\n"
    "  --profile the station profile (default, when present:\n"
    "            /etc/fwupgrader/station.toml; %ProgramData%\\fwupgrader\\station.toml\n"
    "            on Windows): it sets --file, --record, --station and --retries where\n"
    "            they are not given, and the rules the image must pass (signature,\n"
    "            allow-list); a locked profile refuses options that contradict it\n"
    "\n"
    "The first Ctrl-C stops at once before the download and at the next packet\n"
    "boundary during it (exit code 130; the reader waits in its boot loader and the\n"
    "next update finishes it) and allows no retry; a second one ends the program at\n"
    "once. SIGHUP (a lost terminal) counts as the first Ctrl-C; a closed output only\n"
    "ends the printing (the job and its record go on). A write the reader does not\n"
    "take within the packet's wait ends the job with \"Communication Error\".\n";

// The one job's reports on the console, as the plain status callback prints
// them. Its records, one per attempt, are the recording observer's.
class CUpdateObserver : public IUpdateObserver {
public:
    explicit CUpdateObserver(CConsoleReporter& reporter) : m_reporter(reporter) {}

    void OnStage(const DeviceUnit&, UpdateStage eStage, const UpdateStatus& status) override {
        m_reporter.Report(eStage, status);
    }
    void OnJobEnded(const DeviceUnit&, const UpdateOutcome&, const UpdateRequest&) override {}
    void OnRetry(const DeviceUnit& unit, const UpdateOutcome& previous) override {
        m_reporter.Retry(unit, previous, false);
    }

private:
    CConsoleReporter& m_reporter;
};

} // namespace

std::string ExitCodeHelp() {
    std::string strHelp = "exit codes:\n";
    const auto row = [&](int nCode, const std::string& strText) {
        char szCode[8];
        std::snprintf(szCode, sizeof szCode, "%4d  ", nCode);
        strHelp += szCode + strText + "\n";
    };
    row(OutcomeExitCode(OutcomeKind::Success), "FW Update Successful!");
    row(OutcomeExitCode(OutcomeKind::Current),
        "current: the reader already runs --expect-version; nothing was sent");
    row(kExitUsage, "bad command line");
    row(kExitStoreFailed, "records: the store could not answer, or sync left records it refused");
    for (OutcomeKind eKind :
         {OutcomeKind::CheckConnection, OutcomeKind::NotDetected, OutcomeKind::InvalidFirmware,
          OutcomeKind::BootFailed, OutcomeKind::CommunicationError}) {
        row(OutcomeExitCode(eKind), OutcomeText(eKind));
    }
    row(kExitSomeFailed, "auto: at least one device failed");
    row(kExitRecordLost, "flashed, but its record was lost");
    row(OutcomeExitCode(OutcomeKind::VerifyFailed),
        "verify failed: after the download the reader reports another version than "
        "--expect-version");
    return strHelp;
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
        // A whole decimal number from 0 to nMax; no sign, blank or suffix.
        auto number = [&](int& nOut, long nMax, const char* pszWhat) {
            std::string strValue;
            if (!value(strValue)) {
                return false;
            }
            char* pEnd = nullptr;
            errno = 0;
            const long nValue = std::strtol(strValue.c_str(), &pEnd, 10);
            if (strValue.empty() || !std::isdigit(static_cast<unsigned char>(strValue[0])) ||
                *pEnd != '\0' || errno != 0 || nValue > nMax) {
                strError = strArg + " needs " + pszWhat + ", got '" + strValue + "'";
                return false;
            }
            nOut = static_cast<int>(nValue);
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
        } else if (strArg == "--record") {
            if (!value(options.strRecord)) {
                return false;
            }
        } else if (strArg == "--station") {
            if (!value(options.strStation)) {
                return false;
            }
        } else if (strArg == "--parallel" && bAuto) {
            options.bParallel = true;
        } else if (strArg == "--port" && !bAuto) {
            if (!value(options.strPort)) {
                return false;
            }
        } else if (strArg == "--slots" && bAuto) {
            if (!value(options.strSlots)) {
                return false;
            }
        } else if (strArg == "--count" && bAuto) {
            if (!number(options.nCount, 1000000, "a number of devices")) {
                return false;
            }
        } else if (strArg == "--retries") {
            if (!number(options.nRetries, kMaxRetries, "a number of retries from 0 to 100")) {
                return false;
            }
            options.bRetriesGiven = true;
        } else if (strArg == "--profile") {
            if (!value(options.strProfile)) {
                return false;
            }
        } else if (strArg == "--expect-version") {
            if (!value(options.strExpectVersion)) {
                return false;
            }
            if (options.strExpectVersion.empty()) {
                strError = "--expect-version needs a version, like 2.1.0.0";
                return false;
            }
        } else if (strArg == "--no-verify") {
            options.bVerify = false;
        } else {
            strError = "unknown option '" + strArg + "'";
            return false;
        }
    }
    if (options.bHelp) {
        return true;
    }
    if (!options.strSlots.empty() && !options.bParallel) {
        // One reader at a time has one slot: a map of slots would label nothing.
        strError = "--slots labels the readers of --parallel: it needs --parallel";
        return false;
    }
    if (!bAuto && options.strPort.empty()) {
        strError = "--port NAME|COMn is required (see 'fwupgrader-cli list')";
        return false;
    }
    return true;
}

std::string ResolvePortName(const std::string& strPort) {
    const std::vector<PortRecord> ports = ScanPorts();
    const int nWanted = CComPort::PortNumberFromLabel(strPort);
    std::error_code ec;
    const std::filesystem::path wantedNode = std::filesystem::weakly_canonical(strPort, ec);
    for (const PortRecord& entry : ports) {
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

std::unique_ptr<CComPort> OpenPort(const std::string& strName) {
    for (const PortRecord& record : ScanPorts()) {
        if (record.strName == strName) {
            return std::make_unique<CComPort>(record);
        }
    }
    // Not present yet: the job waits for the number's port to appear.
    return std::make_unique<CComPort>(strName, 1024, 20480);
}

bool OpenRecords(const JobOptions& options, const char* pszCommand, CConsoleReporter& reporter,
                 CUnitRecordLog& records) {
    if (options.strRecord.empty()) {
        return true;
    }
    std::string strError;
    if (!records.Open(options.strRecord, strError)) {
        std::fprintf(stderr, "fwupgrader-cli %s: %s\n", pszCommand, strError.c_str());
        return false;
    }
    if (!options.strStation.empty()) {
        records.SetStation(options.strStation);
    }
    records.SetNoticeSink([&reporter](const std::string& strNotice) { reporter.Line(strNotice); });
    if (!options.bJson) {
        reporter.Line("records go to " + records.StoreName());
    }
    return true;
}

IRecordSink* RecordSinkOf(CUnitRecordLog& records) {
    return records.IsOpen() ? &records : nullptr;
}

int ExitAfterRecords(int nExitCode, CUnitRecordLog& records) {
    return ExitWithRecords(nExitCode, records.Close());
}

int ExitWithRecords(int nExitCode, const RecordTally& tally) {
    const bool bReplaced =
        nExitCode == kExitOk || nExitCode == OutcomeExitCode(OutcomeKind::Interrupted);
    return bReplaced && tally.nLost > 0 ? kExitRecordLost : nExitCode;
}

void EndNowWithRecords(CUnitRecordLog& records) {
    const int nExitCode =
        ExitWithRecords(OutcomeExitCode(OutcomeKind::Interrupted), records.SpoolPendingNow());
    std::fflush(nullptr); // _Exit flushes nothing: the spooled and lost lines must show
    std::_Exit(nExitCode);
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
        std::printf("%s\n%s", kUpdateHelp, ExitCodeHelp().c_str());
        return kExitOk;
    }
    CUnitRecordLog records;
    if (const int nExit = ApplyStationProfile("update", false, kUpdateHelp, options, records);
        nExit >= 0) {
        return nExit;
    }
    const std::string strName = ResolvePortName(options.strPort);
    if (strName.empty()) {
        std::fprintf(stderr,
                     "fwupgrader-cli update: '%s' names no port; use a name from "
                     "'fwupgrader-cli list', COMn or a device node\n",
                     options.strPort.c_str());
        return kExitUsage;
    }
    CConsoleReporter reporter(stdout, options.bJson, IsTerminal(stdout));
    if (!OpenRecords(options, "update", reporter, records)) {
        return kExitUsage;
    }
    if (options.bTrace) {
        EnableTrace();
    }
    UpdateRequest request;
    request.strFirmwarePath = options.strFile;
    request.strApprovedSha256 = options.strApprovedSha256;
    request.bVerify = options.bVerify;
    if (!options.strExpectVersion.empty()) {
        request.optExpectVersion = options.strExpectVersion;
    }
    auto pSession = std::make_unique<CDeviceSession>(OpenPort(strName));
    CDeviceSession& session = *pSession;
    // Before the job: after a success the reader's port has gone.
    const DeviceUnit unit = UnitOfPort(session.Port());
    if (!options.bJson && session.Port().IsOpen()) {
        reporter.Line("port " + session.Port().GetLabel() + " at " +
                      session.Port().GetDeviceNode());
    }
    CRetryingJob job(std::move(pSession), unit, ProtocolTimings{}, options.nRetries);
    // First Ctrl-C: stop at the next packet boundary (at once before the
    // download), so the reader never gets half a packet, and try no more. Second:
    // end now. A lost terminal (SIGHUP) counts as the first; a closing console
    // stops at the boundary too, and the watch holds the process until the record
    // is written.
    const CInterruptWatch interrupts([&job, &records](int nCount) {
        if (nCount == CInterruptWatch::kConsoleClosing) {
            job.RequestStop();
        } else if (nCount == 1) {
            std::fputs("\nstopping at the next packet boundary (Ctrl-C again to quit at once)\n",
                       stderr);
            job.RequestStop();
        } else {
            EndNowWithRecords(records);
        }
    });
    CUpdateObserver observer(reporter);
    CRecordingObserver recording(observer);
    recording.SetSink(RecordSinkOf(records));
    const UpdateOutcome outcome = job.Run(request, recording);
    return ExitAfterRecords(OutcomeExitCode(outcome.eKind), records);
}

} // namespace fwup::cli
