#pragma once
// CRetryingJob: a device's update job, run again when it ended in a way a flaky
// contact explains ("Communication Error", "boot loader failed. check
// connection") while the reader is still there: its connector is listed again
// within the wait for a port to appear. Every attempt is a CDeviceJob on a fresh
// session on the port listed at that connector now (a reader in its boot loader
// may come back under another node), with its own reports; OnRetry comes between
// two attempts. A retry that finds only the boot loader, which tells no serial,
// keeps the serial an earlier attempt learned, as any job on a request does.
// Never retried: a success, an interruption (a stop request), or
// any other failure, which a second try would only repeat.

#include "device/ProtocolTimings.h"
#include "workflows/CDeviceJob.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

namespace fwup {

class CPortWatcher;
struct PortRecord;

// The most retries a front end takes (--retries).
inline constexpr int kMaxRetries = 100;

// True for the outcomes a retry may mend.
bool IsRetryableOutcome(OutcomeKind eKind);

// The listed port of unit's connector (by COM number, or listed name, when the
// connector is unknown), waiting up to nWaitMs and polling every 50 ms (with
// pWatcher, reading its listing and woken by its changes); none when it is not
// listed in time or *pbStop turns true (pbStop and pWatcher may be null).
std::optional<PortRecord> WaitForUnitPort(const DeviceUnit& unit, uint32_t nWaitMs,
                                          const std::atomic<bool>* pbStop,
                                          const CPortWatcher* pWatcher = nullptr);

class CRetryingJob {
public:
    // pSession: the first attempt's, taken over; unit: its unit (nAttempt as given,
    // normally 1). nRetries: further attempts at most (0: a plain job). timings: the
    // fresh sessions'; their nDetectOpenMs bounds the wait for the reader's port.
    CRetryingJob(std::unique_ptr<CDeviceSession> pSession, DeviceUnit unit,
                 const ProtocolTimings& timings, int nRetries);
    CRetryingJob(const CRetryingJob&) = delete;
    CRetryingJob& operator=(const CRetryingJob&) = delete;

    // Runs the attempts on the calling thread with request (borrowed; a retry
    // clears the findings and status but the serial, keeping the firmware path). The last attempt's
    // outcome; Unit() is then the last attempt's unit. Runs once.
    UpdateOutcome Run(UpdateRequest& request, IUpdateObserver& observer);

    // Any thread: the attempt in flight stops at its next packet boundary (as
    // CDeviceJob::RequestStop) and no further attempt starts.
    void RequestStop();

    // The first session back, for a job that will not run; empty once Run started.
    std::unique_ptr<CDeviceSession> TakeBackSession();

    // The current (after Run: the last) attempt's unit.
    DeviceUnit Unit() const;
    // The listing the retries' waits and ports read (borrowed, outlives the job;
    // null: their own scans). Before Run.
    void SetPortWatcher(const CPortWatcher* pWatcher) { m_pWatcher = pWatcher; }

private:
    ProtocolTimings m_timings;
    const CPortWatcher* m_pWatcher = nullptr;
    int m_nRetries;
    std::atomic<bool> m_bStop{false};
    mutable std::mutex m_mutex; // m_pJob and m_unit against RequestStop and Unit
    std::unique_ptr<CDeviceJob> m_pJob;
    DeviceUnit m_unit;
};

} // namespace fwup
