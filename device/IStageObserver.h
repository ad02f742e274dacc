#pragma once
// What an update job (RunUpdate) tells while it runs: each stage in order, progress
// included, on the job's thread. This is the job's only way out; workflows/'
// CDeviceJob hands the reports on to an IUpdateObserver with the unit attached.

#include "device/UpdateRequest.h"

namespace fwup {

class IStageObserver {
public:
    virtual ~IStageObserver() = default;

    // StageStart first, StageSuccess or StageFailure last. status is the request's
    // status at that moment (nProgress at StageProgress); copy what is kept.
    virtual void OnStage(UpdateStage eStage, const UpdateStatus& status) = 0;
};

} // namespace fwup
