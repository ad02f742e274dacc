#pragma once
// CManualUpdate: the operator's update of the connected device. It owns its
// thread and, while the job runs, the device's session; reports go to the
// observer on that thread.

#include "device/CDeviceSession.h"
#include "device/IUpdateObserver.h"
#include "device/UpdateRequest.h"
#include "workflows/CDeviceJob.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace fwup {

class CManualUpdate {
public:
    explicit CManualUpdate(IUpdateObserver& observer);
    ~CManualUpdate(); // stops a running job (at its next packet boundary) and joins
    CManualUpdate(const CManualUpdate&) = delete;
    CManualUpdate& operator=(const CManualUpdate&) = delete;

    // Starts one job on a thread of its own. The session is taken over and released
    // (closing its port) before OnJobEnded; request is borrowed until OnJobEnded has
    // returned. False, with pSession left to the caller, when a run is still busy,
    // pSession is empty or no thread could be started.
    bool Start(std::unique_ptr<CDeviceSession>& pSession, UpdateRequest& request);

    // True from Start until the thread is past OnJobEnded.
    bool IsRunning() const { return m_bRunning.load(); }
    // Any thread: the job stops at once before the download, at the next packet
    // boundary during it.
    void RequestStop();
    // Waits for the thread to end; returns at once when there is none.
    void Join();

private:
    IUpdateObserver& m_observer;
    std::mutex m_mutex; // m_pJob against RequestStop
    std::unique_ptr<CDeviceJob> m_pJob;
    std::thread m_thread;
    std::atomic<bool> m_bRunning{false};
};

} // namespace fwup
