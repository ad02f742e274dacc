#pragma once
// CDeviceJob: one update job on one device session, reported to an observer and
// stoppable from any thread. The manual update and the auto loop both run their
// devices through it.

#include "device/CDeviceSession.h"
#include "device/DeviceUnit.h"
#include "device/IUpdateObserver.h"
#include "device/UpdateOutcome.h"
#include "device/UpdateRequest.h"

#include <memory>
#include <mutex>

namespace fwup {

class CDeviceJob {
public:
    // Takes the session over, its port open or not (the job waits for a closed one).
    CDeviceJob(std::unique_ptr<CDeviceSession> pSession, DeviceUnit unit);
    CDeviceJob(const CDeviceJob&) = delete;
    CDeviceJob& operator=(const CDeviceJob&) = delete;

    // Runs the update job on the calling thread with request (borrowed): every stage
    // goes to observer.OnStage; then the session is released, which closes its port,
    // and observer.OnJobEnded follows. Runs once; a second call fails with
    // NotDetected and no report.
    UpdateOutcome Run(UpdateRequest& request, IUpdateObserver& observer);

    // Any thread: the job stops at once before the download and at the next packet
    // boundary during it (outcome Interrupted, the reader left in its boot loader).
    // Nothing once the session has been released.
    void RequestStop();

    // The session back, for a job that will not run (its thread could not start);
    // empty once Run has started.
    std::unique_ptr<CDeviceSession> TakeBackSession();

    const DeviceUnit& Unit() const { return m_unit; }

private:
    std::mutex m_mutex; // the session's release against RequestStop
    std::unique_ptr<CDeviceSession> m_pSession;
    bool m_bStarted = false;
    DeviceUnit m_unit;
};

} // namespace fwup
