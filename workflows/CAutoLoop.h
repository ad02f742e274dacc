#pragma once
// CAutoLoop: the bench's loop. Watches the listed ports for the reader's
// converter, updates the first one found, asks the operator to take it off,
// and starts over, until it is stopped or has done the number of devices asked
// for. Each device gets its own session with the loop's timings; every device
// gets the request's firmware file. With nRetries, a device whose job failed in
// a way a flaky contact explains is run again while it is still listed
// (CRetryingJob) before it counts; RequestStop lets those retries run,
// InterruptDevice allows none.

#include "device/ProtocolTimings.h"
#include "device/UpdateRequest.h"
#include "workflows/CRetryingJob.h"
#include "workflows/IAutoObserver.h"
#include "workflows/IOperator.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace fwup {

// The pause after a search cycle that found nothing, in ms: ports are scanned
// about ten times a second.
inline constexpr uint32_t kSearchPauseMs = 100;

class CAutoLoop {
public:
    // request, observer and op are borrowed for the loop's life; request is the
    // loop's while it runs. nMaxDevices: stop after that many devices (0: no limit).
    // nRetries: further attempts for a retryable failure (0: none).
    CAutoLoop(UpdateRequest& request, IAutoObserver& observer, IOperator& op,
              const ProtocolTimings& timings = {}, int nMaxDevices = 0, int nRetries = 0);
    ~CAutoLoop(); // RequestStop(), then waits for a thread of its own
    CAutoLoop(const CAutoLoop&) = delete;
    CAutoLoop& operator=(const CAutoLoop&) = delete;

    // The jobs' reports (OnStage, OnJobEnded, OnRetry) go to observer instead of
    // the loop's observer: a wrapper that passes them on, such as the recording
    // observer. Borrowed for the loop's life; before Run or Start.
    void SetJobObserver(IUpdateObserver& observer) { m_pJobObserver = &observer; }

    // Runs the loop on the calling thread until it ends; the devices it counted.
    AutoTally Run();
    // Runs the loop on a thread of its own. False when it could not be started or
    // a loop is running.
    bool Start();
    // Waits for the loop's own thread; at once when there is none.
    void Join();
    // True from Start until the loop's thread is past OnLoopEnded.
    bool IsRunning() const { return m_bRunning.load(); }

    // No new device: the loop ends after the current cycle, a device in flight
    // finishing its job first. One store of a lock-free atomic: safe in a signal
    // handler.
    void RequestStop() { m_bStop.store(true); }
    // RequestStop, and the device in flight stops at its next packet boundary
    // (outcome Interrupted). Any thread, not a signal handler.
    void InterruptDevice();
    bool StopRequested() const { return m_bStop.load(); }
    // During AskToRemove (the loop's thread): true when the last job's read-back
    // already waited for the reader's return after its restart.
    bool ReturnWaited() const { return m_bReturnWaited; }

private:
    bool KeepGoing(const AutoTally& tally) const;

    UpdateRequest& m_request;
    IAutoObserver& m_observer;
    IUpdateObserver* m_pJobObserver; // the jobs' reports: m_observer unless set
    IOperator& m_operator;
    ProtocolTimings m_timings;
    int m_nMaxDevices;
    int m_nRetries;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bRunning{false};
    std::mutex m_mutex;                   // m_pJob and m_bInterrupt
    std::unique_ptr<CRetryingJob> m_pJob; // the device in flight
    bool m_bInterrupt = false;
    bool m_bReturnWaited = false; // the loop's thread only
    std::thread m_thread;

    static_assert(std::atomic<bool>::is_always_lock_free, "RequestStop runs in signal handlers");
};

} // namespace fwup
