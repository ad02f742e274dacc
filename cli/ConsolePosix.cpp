#include "cli/Console.h"

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace fwup::cli {

namespace {

std::atomic<bool> g_bStop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "flag is set from a signal handler");

extern "C" void OnInterrupt(int) {
    g_bStop.store(true);
}

} // namespace

void InitConsole() {
    // A closed pipe (| head) must not kill a download half-way: writes to it fail
    // with EPIPE instead, and the printing just stops.
    std::signal(SIGPIPE, SIG_IGN);
}

std::vector<std::string> CommandLineArgs(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

bool IsTerminal(std::FILE* pStream) {
    return ::isatty(::fileno(pStream)) != 0;
}

void InstallStopHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND; // the second Ctrl-C ends the process at once
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() {
    return g_bStop.load();
}

const char* PortSourceNote() {
    return "Ports are read below $FWUP_SYSROOT (default /).\n";
}

} // namespace fwup::cli
