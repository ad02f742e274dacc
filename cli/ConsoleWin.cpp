#include "cli/Console.h"

#include "serial/WideText.h"

#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <io.h>

namespace fwup::cli {

namespace {

std::atomic<bool> g_bStop{false};

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI OnConsoleControl(DWORD dwType) {
    if (dwType != CTRL_C_EVENT && dwType != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    // The second one falls through to the default handler, which ends the process.
    return g_bStop.exchange(true) ? FALSE : TRUE;
}

} // namespace

void InitConsole() {
    ::SetConsoleOutputCP(CP_UTF8);
}

std::vector<std::string> CommandLineArgs(int argc, char** argv) {
    int nArgs = 0;
    LPWSTR* ppszArgs = ::CommandLineToArgvW(::GetCommandLineW(), &nArgs);
    if (ppszArgs == nullptr) {
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> args;
    for (int i = 0; i < nArgs; ++i) {
        args.push_back(Utf8FromWide(ppszArgs[i]));
    }
    ::LocalFree(ppszArgs);
    return args;
}

bool IsTerminal(std::FILE* pStream) {
    // _isatty also holds for NUL; only a console takes the progress bar's carriage returns.
    const intptr_t hOut = ::_get_osfhandle(::_fileno(pStream));
    DWORD dwMode = 0;
    return hOut != -1 && ::GetFileType(reinterpret_cast<HANDLE>(hOut)) == FILE_TYPE_CHAR &&
           ::GetConsoleMode(reinterpret_cast<HANDLE>(hOut), &dwMode);
}

void InstallStopHandler() {
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool StopRequested() {
    return g_bStop.load();
}

const char* PortSourceNote() {
    return "Ports are the system's COM ports (SetupAPI ports class).\n";
}

} // namespace fwup::cli
