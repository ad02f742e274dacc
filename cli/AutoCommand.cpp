// fwupgrader-cli auto: the bench loop without a window, glue around the shared
// auto loop. The operator is answered by the device's port going away; Ctrl-C
// ends the loop after the current device.
#include "cli/CConsoleReporter.h"
#include "cli/CliCommands.h"

#include "device/UpdateRequest.h"
#include "workflows/CAutoLoop.h"
#include "workflows/CPortGoneOperator.h"
#include "workflows/IAutoObserver.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>

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

std::atomic<CAutoLoop*> g_pLoop{nullptr};
static_assert(std::atomic<CAutoLoop*>::is_always_lock_free, "read in a signal handler");

extern "C" void OnInterrupt(int) {
    if (CAutoLoop* pLoop = g_pLoop.load()) {
        pLoop->RequestStop();
    }
}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND; // the second Ctrl-C ends the process at once
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::string TallyText(const AutoTally& tally) {
    return "devices passed: " + std::to_string(tally.nPassed) +
           ", failed: " + std::to_string(tally.nFailed);
}

// The loop's reports as console lines (or JSON objects).
class CConsoleAutoObserver : public IAutoObserver {
public:
    explicit CConsoleAutoObserver(CConsoleReporter& reporter) : m_reporter(reporter) {}

    void OnSearching() override {
        // Once per search, not once per scan.
        if (!m_bSearching) {
            m_reporter.Line("detecting device ...");
            m_bSearching = true;
        }
    }
    void OnDeviceFound(const DeviceUnit&) override {
        m_bSearching = false;
        m_reporter.Line("updating device ...");
    }
    void OnStage(const DeviceUnit&, UpdateStage eStage, const UpdateStatus& status) override {
        m_reporter.Report(eStage, status);
    }
    void OnJobEnded(const DeviceUnit&, const UpdateOutcome&, const UpdateRequest&) override {}
    void OnDeviceDone(const DeviceUnit&, const AutoTally& tally) override {
        m_reporter.Line(TallyText(tally));
        m_reporter.Line("Remove the device");
    }
    void OnLoopEnded(const AutoTally& tally) override {
        m_reporter.Line("auto mode ended: " + TallyText(tally));
    }

private:
    CConsoleReporter& m_reporter;
    bool m_bSearching = false;
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
    if (options.bTrace) {
        EnableTrace();
    }
    CConsoleReporter reporter(stdout, options.bJson, ::isatty(STDOUT_FILENO) != 0);
    CConsoleAutoObserver observer(reporter);
    CPortGoneOperator unplugged; // instead of an OK button: the port has gone
    UpdateRequest request;
    request.strFirmwarePath = options.strFile;
    CAutoLoop loop(request, observer, unplugged, ProtocolTimings{}, options.nCount);
    g_pLoop = &loop;
    InstallInterruptHandler();
    const AutoTally tally = loop.Run();
    g_pLoop = nullptr;
    return tally.nFailed == 0 ? kExitOk : kExitSomeFailed;
}

} // namespace fwup::cli
