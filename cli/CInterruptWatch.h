#pragma once
// CInterruptWatch: Ctrl-C (SIGINT) and SIGTERM for the CLI. The signal handler
// only counts and wakes a watcher thread; the caller's reaction runs on that
// thread, where it may lock, print and ask device sessions to stop.

#include <atomic>
#include <functional>
#include <thread>

namespace fwup::cli {

class CInterruptWatch {
public:
    // onSignal(n) runs on the watcher thread for the n-th signal (1, 2, ...).
    // One watch at a time per process: the signals have one handler.
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
