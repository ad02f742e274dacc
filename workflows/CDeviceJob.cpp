#include "workflows/CDeviceJob.h"

#include "device/UpdateJob.h"

namespace fwup {

namespace {

// The job's stage reports as the front end hears them: with the unit.
class CUnitStages final : public IStageObserver {
public:
    CUnitStages(IUpdateObserver& observer, DeviceUnit& unit) : m_observer(observer), m_unit(unit) {}
    void OnStage(UpdateStage eStage, const UpdateStatus& status) override {
        // A reader that was restarting when the job began is listed once its
        // port has opened: from then on the unit has its name and connector
        // (its record too, also when the port has gone again by the end).
        if (eStage != StageStart && eStage != StageProgress) {
            CompleteUnitFromListing(m_unit);
        }
        m_observer.OnStage(m_unit, eStage, status);
    }

private:
    IUpdateObserver& m_observer;
    DeviceUnit& m_unit;
};

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
    CUnitStages stages(observer, m_unit);
    const UpdateOutcome outcome = RunUpdate(*pSession, request, stages);
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
