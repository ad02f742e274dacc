// The queue of reports from the workers to the GUI thread.

#include "windowmodel/CGuiQueue.h"

namespace fwup {

void CGuiQueue::PushLocked(std::function<void()> fn) {
    // Only the first report of a batch wakes the GUI thread (Drain takes them
    // all), or the next one after a wake that could not be delivered.
    const bool bWake = m_queue.empty() || m_bWakeLost;
    m_queue.push_back(std::move(fn));
    if (bWake) {
        m_bWakeLost = !m_fnWake();
    }
}

void CGuiQueue::Drain() {
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_queue.empty()) {
                return;
            }
            fn = std::move(m_queue.front());
            m_queue.pop_front();
        }
        fn(); // may show a modal box, which drains what comes in meanwhile
    }
}

} // namespace fwup
