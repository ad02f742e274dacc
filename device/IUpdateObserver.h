#pragma once
// What a front end hears of an update job. Called on the job's thread: a front
// end with a GUI thread hands the reports over without waiting for it.

#include "device/DeviceUnit.h"
#include "device/UpdateOutcome.h"
#include "device/UpdateRequest.h"

namespace fwup {

class IUpdateObserver {
public:
    virtual ~IUpdateObserver() = default;

    // Every stage report of a job on unit, in order: StageStart first, StageSuccess
    // or StageFailure last (strMessage the outcome's text, strCause why). status is
    // the request's status at that moment; copy what is kept.
    virtual void OnStage(const DeviceUnit& unit, UpdateStage eStage,
                         const UpdateStatus& status) = 0;

    // After the last stage report, once the job's session has let its port go: how
    // the job ended, and what it found in request (optVersion and nBootInfo before
    // the update, status.optSerial, the file fields). request is the caller's again
    // when this returns.
    virtual void OnJobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                            const UpdateRequest& request) = 0;

    // A retried job (--retries): attempt unit.nAttempt (2 or more) is about to start
    // on the same reader, after an attempt that ended in previous (already told by
    // OnJobEnded). Its own OnStage(StageStart) ... OnJobEnded follow.
    virtual void OnRetry(const DeviceUnit& unit, const UpdateOutcome& previous) {
        (void)unit;
        (void)previous;
    }
};

} // namespace fwup
