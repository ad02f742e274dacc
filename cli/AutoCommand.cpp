// fwupgrader-cli auto: the bench loops without a window, glue around the shared
// loops. One device at a time, or with --parallel every reader that is plugged.
// The operator is answered by the device's port going away.
#include "cli/CBenchTable.h"
#include "cli/CConsoleReporter.h"
#include "cli/CInterruptWatch.h"
#include "cli/CliCommands.h"
#include "cli/Console.h"

#include "device/UpdateRequest.h"
#include "records/CRecordingObserver.h"
#include "records/CUnitRecordLog.h"
#include "workflows/CAutoLoop.h"
#include "workflows/CParallelAutoLoop.h"
#include "workflows/CPortGoneOperator.h"
#include "workflows/CSlotMap.h"
#include "workflows/IAutoObserver.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace fwup::cli {

namespace {

const char* const kAutoHelp =
    "usage: fwupgrader-cli auto --file FW.bin [--parallel [--slots FILE]] [--count N]\n"
    "                           [--retries N] [--record STORE] [--station NAME]\n"
    "                           [--profile FILE] [--expect-version V] [--no-verify]\n"
    "                           [--json] [--trace]\n"
    "\n"
    "  --file      the firmware image every device gets\n"
    "  --parallel  every reader that is plugged at once, each in its own session\n"
    "  --slots     with --parallel: the slots' labels, one 'CONNECTOR LABEL' a line\n"
    "              ('1-1.3:1.0 Slot 3'; the connectors as 'list' shows them; '#'\n"
    "              starts a comment); other connectors get \"Slot N\" in the order\n"
    "              they are first seen. Records keep the label in \"slot\"\n"
    "  --count     stop after N devices have finished (default: until Ctrl-C)\n"
    "  --retries   run a device's job again up to N times (default 0) when it ended\n"
    "              in \"Communication Error\" or \"boot loader failed. check\n"
    "              connection\" and its port is listed again; each attempt has its\n"
    "              record, the device counts once, by its last attempt\n"
    "  --record    keep one record per finished unit in STORE: a postgresql:// URI,\n"
    "              a .db/.sqlite file (SQLite) or any other file (JSON lines)\n"
    "  --station   the station named in the records (default: this computer's name)\n"
    "  --expect-version  the version the image brings: a reader already reporting\n"
    "              it is left alone (\"current\": Stop, then Start flashes nothing\n"
    "              twice), one reporting another after the download fails\n"
    "              (\"verify failed\")\n"
    "  --no-verify send nothing after the finish reply (by default each reader is\n"
    "              waited for, up to 10 s, and asked its version and serial number)\n"
    "  --json      JSON objects instead of log lines (with --parallel they carry\n"
    "              \"port\", \"serial\", \"slot\" and \"attempt\")\n"
    "  --trace     the byte trace of the serial line on stderr\n"
    "  --profile   the station profile (default, when present:\n"
    "              /etc/fwupgrader/station.toml; %ProgramData%\\fwupgrader\\station.toml\n"
    "              on Windows): it sets --file, --record, --station, --retries and\n"
    "              (with --parallel) --slots where they are not given, and the rules\n"
    "              the image must pass (signature, allow-list); a locked profile\n"
    "              refuses options that contradict it\n"
    "\n"
    "The first Ctrl-C takes no new device and lets the devices in flight finish (with\n"
    "their retries); the second stops each of them at its next packet boundary, with\n"
    "no retry (exit code 130): a stopped reader waits in its boot loader for the next\n"
    "update; the third ends the program at once. SIGHUP (a lost terminal) counts as\n"
    "the first Ctrl-C; a closed output only ends the printing.\n";

// "Slot 3 (COM3)", or "COM3" without a slot.
std::string UnitTag(const DeviceUnit& unit) {
    const std::string strPort = "COM" + std::to_string(unit.nPort);
    return unit.strSlot.empty() ? strPort : unit.strSlot + " (" + strPort + ")";
}

std::string TallyText(const AutoTally& tally) {
    std::string strText = "devices passed: " + std::to_string(tally.nPassed) +
                          ", failed: " + std::to_string(tally.nFailed);
    // Neither passed nor failed: said only when there are some.
    if (tally.nCurrent > 0) {
        strText += ", current: " + std::to_string(tally.nCurrent);
    }
    if (tally.nStopped > 0) {
        strText += ", stopped: " + std::to_string(tally.nStopped);
    }
    return strText;
}

// The loops' reports on the console: lines (prefixed with the port when several
// readers run at once), JSON objects, or the live table. The unit records are
// the recording observer's, in front of this one's job reports.
class CConsoleAutoObserver : public IAutoObserver {
public:
    CConsoleAutoObserver(CConsoleReporter& reporter, CBenchTable* pTable, bool bParallel)
        : m_reporter(reporter), m_pTable(pTable), m_bParallel(bParallel) {}

    void OnSearching() override {
        // Once per search, not once per scan.
        if (!m_bSearching.exchange(true)) {
            Say("detecting device ...");
        }
    }
    void OnDeviceFound(const DeviceUnit& unit) override {
        m_bSearching = false;
        Say("updating device ...", &unit);
    }
    void OnStage(const DeviceUnit& unit, UpdateStage eStage, const UpdateStatus& status) override {
        if (m_pTable != nullptr) {
            m_pTable->Stage(unit, eStage, status);
        } else {
            m_reporter.Report(eStage, status, m_bParallel ? &unit : nullptr);
        }
    }
    void OnJobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                    const UpdateRequest&) override {
        if (m_pTable != nullptr) {
            m_pTable->Done(unit, outcome);
        }
    }
    void OnRetry(const DeviceUnit& unit, const UpdateOutcome& previous) override {
        if (m_pTable != nullptr) {
            Say(std::string("retrying after: ") + OutcomeText(previous.eKind), &unit);
        } else {
            m_reporter.Retry(unit, previous, m_bParallel);
        }
    }
    void OnDeviceDone(const DeviceUnit& unit, const AutoTally& tally) override {
        Say(TallyText(tally));
        Say("Remove the device", &unit);
    }
    void OnDeviceRemoved(const DeviceUnit& unit) override {
        if (m_pTable != nullptr) {
            m_pTable->Removed(unit);
        }
    }
    void OnLoopEnded(const AutoTally& tally) override {
        Say("auto mode ended: " + TallyText(tally));
    }

    // A line of the front end: under the table, or a log line.
    void Say(const std::string& strText, const DeviceUnit* pUnit = nullptr) {
        if (m_pTable != nullptr) {
            m_pTable->Footer(pUnit != nullptr ? UnitTag(*pUnit) + ": " + strText : strText);
        } else {
            m_reporter.Line(strText, m_bParallel ? pUnit : nullptr);
        }
    }

private:
    CConsoleReporter& m_reporter;
    CBenchTable* m_pTable;
    bool m_bParallel;
    std::atomic<bool> m_bSearching{false};
};

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
    CUnitRecordLog records;
    if (const int nExit = ApplyStationProfile("auto", true, kAutoHelp, options, records);
        nExit >= 0) {
        return nExit;
    }
    // A slots file is the operator's: a mistake in it is told before any port.
    CSlotMap slots;
    if (!options.strSlots.empty() && !slots.LoadFile(options.strSlots, strError)) {
        std::fprintf(stderr, "fwupgrader-cli auto: --slots: %s\n", strError.c_str());
        return kExitUsage;
    }
    const bool bTerminal = IsTerminal(stdout);
    CConsoleReporter reporter(stdout, options.bJson, bTerminal);
    if (!OpenRecords(options, "auto", reporter, records)) {
        return kExitUsage;
    }
    if (options.bTrace) {
        EnableTrace();
    }
    CBenchTable table(stdout);
    CConsoleAutoObserver observer(
        reporter, options.bParallel && bTerminal && !options.bJson ? &table : nullptr,
        options.bParallel);
    CRecordingObserver recording(observer);
    recording.SetSink(RecordSinkOf(records));

    // The loops exist before Ctrl-C is watched, so no stop can miss them.
    CPortGoneOperator unplugged; // instead of an OK button: the port has gone
    UpdateRequest request;
    request.strFirmwarePath = options.strFile;
    request.strApprovedSha256 = options.strApprovedSha256;
    request.bVerify = options.bVerify;
    if (!options.strExpectVersion.empty()) {
        request.optExpectVersion = options.strExpectVersion;
    }
    std::unique_ptr<CParallelAutoLoop> pParallel;
    std::unique_ptr<CAutoLoop> pSingle;
    if (options.bParallel) {
        pParallel = std::make_unique<CParallelAutoLoop>(
            options.strFile, observer, ProtocolTimings{}, options.nCount, options.nRetries, &slots);
        pParallel->SetJobObserver(recording);
        pParallel->SetApprovedSha256(options.strApprovedSha256);
        pParallel->SetReadBack(request.bVerify, request.optExpectVersion);
    } else {
        pSingle = std::make_unique<CAutoLoop>(request, observer, unplugged, ProtocolTimings{},
                                              options.nCount, options.nRetries);
        pSingle->SetJobObserver(recording);
    }
    std::atomic<bool> bInterrupted{false};
    const CInterruptWatch interrupts([&](int nCount) {
        if (nCount == CInterruptWatch::kConsoleClosing) {
            // The console goes away: stop as after two Ctrl-C; the watch holds the
            // process until the loops have ended and written their records.
            bInterrupted = true;
            pParallel ? pParallel->RequestStop() : pSingle->RequestStop();
            pParallel ? pParallel->InterruptDevices() : pSingle->InterruptDevice();
        } else if (nCount == 1) {
            observer.Say("no new device; the devices in flight finish (Ctrl-C again stops them "
                         "at the next packet boundary)");
            pParallel ? pParallel->RequestStop() : pSingle->RequestStop();
        } else if (nCount == 2) {
            bInterrupted = true;
            observer.Say("stopping every device in flight at its next packet boundary ...");
            pParallel ? pParallel->InterruptDevices() : pSingle->InterruptDevice();
        } else {
            // A device that never reaches its packet boundary must not hold the
            // bench; records not yet stored go to the spool first.
            EndNowWithRecords(records);
        }
    });
    const AutoTally tally = pParallel ? pParallel->Run() : pSingle->Run();
    if (bInterrupted) {
        return ExitAfterRecords(OutcomeExitCode(OutcomeKind::Interrupted), records);
    }
    // A stopped reader was not finished: as before, the run did not pass.
    return ExitAfterRecords(tally.nFailed + tally.nStopped == 0 ? kExitOk : kExitSomeFailed,
                            records);
}

} // namespace fwup::cli
