#pragma once
// CRecordingObserver: the one way a front end records its jobs. It stands in
// front of the front end's own observer: it tells the record sink when each job
// starts and ends, and passes every report on, unchanged and in order. The CLI's
// update and auto, the main window and the bench all record through it.

#include "device/IUpdateObserver.h"
#include "records/IRecordSink.h"

#include <functional>

namespace fwup {

class CRecordingObserver : public IUpdateObserver {
public:
    // Told on the job's thread when the sink did not take the record of unit,
    // before the job's end is passed on.
    using NotTakenSink = std::function<void(const DeviceUnit& unit)>;

    // inner: borrowed, outlives this; it hears every report.
    explicit CRecordingObserver(IUpdateObserver& inner) : m_inner(inner) {}

    // Where the records go (borrowed, outlives the jobs; null: nowhere, the reports
    // only pass through). fnNotTaken may be empty. Before the first job starts.
    void SetSink(IRecordSink* pSink, NotTakenSink fnNotTaken = {});
    IRecordSink* Sink() const { return m_pSink; }

    // A job's start (StageStart) is told to the sink before the report passes on.
    void OnStage(const DeviceUnit& unit, UpdateStage eStage, const UpdateStatus& status) override;
    // The record is handed to the sink before the end passes on.
    void OnJobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                    const UpdateRequest& request) override;
    void OnRetry(const DeviceUnit& unit, const UpdateOutcome& previous) override;

private:
    IUpdateObserver& m_inner;
    IRecordSink* m_pSink = nullptr;
    NotTakenSink m_fnNotTaken;
};

} // namespace fwup
