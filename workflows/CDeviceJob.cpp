#include "workflows/CDeviceJob.h"

#include "device/UpdateJob.h"

namespace fwup {

namespace {

struct JobContext {
    IUpdateObserver* pObserver;
    DeviceUnit* pUnit;
};

void ForwardStage(int nStage, UpdateStatus* pStatus, void* pContext) {
    auto* pJob = static_cast<JobContext*>(pContext);
    if (pJob != nullptr && pStatus != nullptr && nStage >= StageStart && nStage <= StageFailure) {
        // A reader that was restarting when the job began is listed once its
        // port has opened: from then on the unit has its name and connector
        // (its record too, also when the port has gone again by the end).
        if (nStage != StageStart && nStage != StageProgress) {
            CompleteUnitFromListing(*pJob->pUnit);
        }
        pJob->pObserver->OnStage(*pJob->pUnit, static_cast<UpdateStage>(nStage), *pStatus);
    }
}

} // namespace

CDeviceJob::CDeviceJob(std::unique_ptr<CDeviceSession> pSession, DeviceUnit unit)
    : m_pSession(std::move(pSession)), m_unit(std::move(unit)) {}

UpdateOutcome CDeviceJob::Run(UpdateRequest& request, IUpdateObserver& observer) {
    CDeviceSession* pSession = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        pSession = m_pSession.get();
        m_bStarted = true;
    }
    if (pSession == nullptr) {
        UpdateOutcome outcome;
        outcome.eKind = OutcomeKind::NotDetected;
        outcome.strCause = "this job has run already";
        return outcome;
    }
    JobContext context{&observer, &m_unit};
    const UpdateOutcome outcome = RunUpdate(*pSession, request, &context, &ForwardStage);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pSession.reset(); // closes the port, so the operator may unplug at once
    }
    observer.OnJobEnded(m_unit, outcome, request);
    return outcome;
}

std::unique_ptr<CDeviceSession> CDeviceJob::TakeBackSession() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bStarted ? nullptr : std::move(m_pSession);
}

void CDeviceJob::RequestStop() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pSession) {
        m_pSession->RequestStop();
    }
}

} // namespace fwup
