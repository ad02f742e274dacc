#pragma once
// CGuiQueue: brings the workers' reports to the GUI thread in order. A worker
// posts a report from any thread; only the first report of a batch calls the
// wake function (Drain takes the whole batch), or the next one after a wake that
// could not be delivered. After ShutDown every report is dropped.
//
// Threads: Post, WithLock and ShutDown on any thread; Drain on the GUI thread
// only. The wake function runs under the queue's lock and must not wait for the
// GUI thread (a queued call in Qt, a posted message on Windows).

#include <deque>
#include <functional>
#include <mutex>
#include <utility>

namespace fwup {

class CGuiQueue {
public:
    // fnWake: arranges one call of Drain on the GUI thread soon, without waiting;
    // false when it could not.
    explicit CGuiQueue(std::function<bool()> fnWake) : m_fnWake(std::move(fnWake)) {}
    CGuiQueue(const CGuiQueue&) = delete;
    CGuiQueue& operator=(const CGuiQueue&) = delete;

    // Queues fn; false when shut down (fn is dropped). fnLocked runs under the
    // queue's lock just before fn is queued, only when fn is taken: state the
    // report makes stale is dropped atomically with its queueing.
    template <typename FnLocked> bool Post(std::function<void()> fn, FnLocked&& fnLocked) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bShutDown) {
            return false;
        }
        fnLocked();
        PushLocked(std::move(fn));
        return true;
    }
    bool Post(std::function<void()> fn) {
        return Post(std::move(fn), [] {});
    }

    // Runs fn under the queue's lock unless shut down; false when it did not run.
    // For state that must stay in step with the queued reports.
    template <typename Fn> bool WithLock(Fn&& fn) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bShutDown) {
            return false;
        }
        fn();
        return true;
    }

    // GUI thread: runs the queued reports in order, those queued meanwhile too.
    void Drain();

    // Drops every queued report and every later one. fnLocked runs under the lock
    // with the flag set. The dropped reports are destroyed after the lock is
    // released (one may own a port it closes then).
    template <typename FnLocked> void ShutDown(FnLocked&& fnLocked) {
        std::deque<std::function<void()>> dropped;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bShutDown = true;
            dropped.swap(m_queue);
            fnLocked();
        }
    }
    void ShutDown() {
        ShutDown([] {});
    }

private:
    void PushLocked(std::function<void()> fn); // with m_mutex held

    const std::function<bool()> m_fnWake;
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_queue; // with m_mutex
    bool m_bShutDown = false;                  // with m_mutex
    bool m_bWakeLost = false;                  // with m_mutex
};

} // namespace fwup
