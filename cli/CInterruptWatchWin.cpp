// Ctrl-C and Ctrl-Break on Windows: the system calls the handler on a thread of
// its own, so the reaction runs there directly.
#include "cli/CInterruptWatch.h"

#include <windows.h>

namespace fwup::cli {

namespace {

// What the console handler may reach: the platform gives it no context pointer.
std::atomic<int> g_nSignals{0};
std::atomic<std::function<void(int)>*> g_pOnSignal{nullptr};

BOOL WINAPI OnConsoleControl(DWORD dwType) {
    if (dwType != CTRL_C_EVENT && dwType != CTRL_BREAK_EVENT && dwType != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    const int nCount = g_nSignals.fetch_add(1) + 1;
    if (std::function<void(int)>* pOnSignal = g_pOnSignal.load()) {
        (*pOnSignal)(nCount);
    }
    return TRUE;
}

} // namespace

CInterruptWatch::CInterruptWatch(std::function<void(int nCount)> onSignal)
    : m_onSignal(std::move(onSignal)) {
    g_nSignals.store(0);
    g_pOnSignal.store(&m_onSignal);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

CInterruptWatch::~CInterruptWatch() {
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_pOnSignal.store(nullptr);
}

int CInterruptWatch::Count() const {
    return g_nSignals.load();
}

} // namespace fwup::cli
