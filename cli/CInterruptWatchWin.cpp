// Ctrl-C, Ctrl-Break and the console's closing on Windows: the system calls the
// handler on a thread of its own, so the reaction runs there directly.
#include "cli/CInterruptWatch.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace fwup::cli {

namespace {

// What the console handler may reach: the platform gives it no context pointer.
// Static storage, so a handler thread never outlives what it touches; the watch
// waits in its destructor until no handler runs its callback.
struct HandlerState {
    std::mutex mutex;
    std::condition_variable cv;
    std::function<void(int)>* pOnSignal = nullptr; // the live watch's callback
    int nRunning = 0;                              // handlers inside the callback or holding
    bool bOwnerDone = true;                        // no watch, or its owner has finished
};
HandlerState g_state;
std::atomic<int> g_nSignals{0};

BOOL WINAPI OnConsoleControl(DWORD dwType) {
    const bool bClosing =
        dwType == CTRL_CLOSE_EVENT || dwType == CTRL_LOGOFF_EVENT || dwType == CTRL_SHUTDOWN_EVENT;
    if (dwType != CTRL_C_EVENT && dwType != CTRL_BREAK_EVENT && !bClosing) {
        return FALSE;
    }
    std::function<void(int)>* pOnSignal = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_state.mutex);
        if (g_state.pOnSignal == nullptr) {
            return FALSE; // the watch is gone: the default action
        }
        pOnSignal = g_state.pOnSignal;
        ++g_state.nRunning;
    }
    if (bClosing) {
        (*pOnSignal)(CInterruptWatch::kConsoleClosing);
    } else {
        (*pOnSignal)(g_nSignals.fetch_add(1) + 1);
    }
    std::unique_lock<std::mutex> lock(g_state.mutex);
    if (bClosing) {
        // The process ends when this returns: hold it until the jobs have stopped
        // and their records are written (the watch's destruction says so).
        g_state.cv.wait_for(lock, std::chrono::milliseconds(CInterruptWatch::kClosingHoldMs),
                            [] { return g_state.bOwnerDone; });
    }
    --g_state.nRunning;
    g_state.cv.notify_all();
    return TRUE;
}

} // namespace

CInterruptWatch::CInterruptWatch(std::function<void(int nCount)> onSignal)
    : m_onSignal(std::move(onSignal)) {
    g_nSignals.store(0);
    {
        std::lock_guard<std::mutex> lock(g_state.mutex);
        g_state.pOnSignal = &m_onSignal;
        g_state.bOwnerDone = false;
    }
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

CInterruptWatch::~CInterruptWatch() {
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    std::unique_lock<std::mutex> lock(g_state.mutex);
    g_state.pOnSignal = nullptr;
    g_state.bOwnerDone = true;
    g_state.cv.notify_all();
    // A handler may still be inside m_onSignal: it must not outlive it.
    g_state.cv.wait(lock, [] { return g_state.nRunning == 0; });
}

int CInterruptWatch::Count() const {
    return g_nSignals.load();
}

} // namespace fwup::cli
