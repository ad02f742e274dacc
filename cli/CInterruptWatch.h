#pragma once
// CInterruptWatch: Ctrl-C (SIGINT), SIGTERM and SIGHUP for the CLI, and on Windows
// Ctrl-Break and the console's closing. The signal handler only counts and wakes
// a watcher thread; the caller's reaction runs on that thread, where it may
// lock, print and ask device sessions to stop. SIGHUP (a lost terminal) counts
// only as the first signal: it never escalates to "quit at once".

#include <atomic>
#include <functional>
#include <thread>

namespace fwup::cli {

class CInterruptWatch {
public:
    static constexpr int kConsoleClosing = 0;
    static constexpr unsigned kClosingHoldMs = 4500;

    // onSignal(n) runs on the watcher thread for the n-th signal (1, 2, ...), or
    // with kConsoleClosing when the console window is being closed (Windows): stop
    // every job at its next packet boundary. The system ends the process once the
    // handler returns, so it holds it (at most kClosingHoldMs, within the few
    // seconds Windows grants) until this watch is destroyed: destroy it only after
    // the jobs have ended and their records are written. One watch at a time per
    // process: the signals have one handler. Never called after destruction.
    explicit CInterruptWatch(std::function<void(int nCount)> onSignal);
    ~CInterruptWatch(); // restores the default handlers and joins the thread
    CInterruptWatch(const CInterruptWatch&) = delete;
    CInterruptWatch& operator=(const CInterruptWatch&) = delete;

    // Signals seen so far.
    int Count() const;

private:
    std::function<void(int)> m_onSignal;
    std::thread m_watcher;
    int m_nWakeRead = -1;
    int m_nWakeWrite = -1;
};

} // namespace fwup::cli
