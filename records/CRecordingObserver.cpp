#include "records/CRecordingObserver.h"

#include <utility>

namespace fwup {

void CRecordingObserver::SetSink(IRecordSink* pSink, NotTakenSink fnNotTaken) {
    m_pSink = pSink;
    m_fnNotTaken = std::move(fnNotTaken);
}

void CRecordingObserver::OnStage(const DeviceUnit& unit, UpdateStage eStage,
                                 const UpdateStatus& status) {
    if (m_pSink != nullptr && eStage == StageStart) {
        m_pSink->JobStarted(unit);
    }
    m_inner.OnStage(unit, eStage, status);
}

void CRecordingObserver::OnJobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                                    const UpdateRequest& request) {
    // Queued: the sink never waits on its store.
    if (m_pSink != nullptr && !m_pSink->JobEnded(unit, outcome, request) && m_fnNotTaken) {
        m_fnNotTaken(unit);
    }
    m_inner.OnJobEnded(unit, outcome, request);
}

void CRecordingObserver::OnRetry(const DeviceUnit& unit, const UpdateOutcome& previous) {
    m_inner.OnRetry(unit, previous);
}

} // namespace fwup
