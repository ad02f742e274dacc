#pragma once
// What a front end hears of the auto loop besides each device's job reports.
// Called on the loop's thread, in this order per cycle: OnSearching, then either
// OnNothingFound or OnDeviceFound, the job's reports, OnDeviceDone and the
// operator's question. A retried reader's attempts each bring their own job
// reports, with OnRetry between them; OnDeviceDone comes once, after the last.

#include "device/IUpdateObserver.h"

namespace fwup {

struct AutoTally {
    int nPassed = 0;  // devices whose job succeeded
    int nFailed = 0;  // devices whose job failed
    int nStopped = 0; // devices whose job was stopped on request: neither passed nor failed
    int nCurrent = 0; // devices that already ran the expected version: nothing sent
    // A retried reader counts once, by its last attempt.
    int Total() const { return nPassed + nFailed + nStopped + nCurrent; }
    void Add(const UpdateOutcome& outcome) { Add(outcome.eKind); }
    void Add(OutcomeKind eKind) {
        switch (eKind) {
        case OutcomeKind::Success:
            ++nPassed;
            break;
        case OutcomeKind::Interrupted:
            ++nStopped;
            break;
        case OutcomeKind::Current:
            ++nCurrent;
            break;
        default:
            ++nFailed;
        }
    }
};

class IAutoObserver : public IUpdateObserver {
public:
    // The loop's thread is running; searching begins.
    virtual void OnLoopStarted() {}
    // A search cycle begins: one enumeration of the ports.
    virtual void OnSearching() {}
    // The cycle found no converter. nSearchPos steps 0, 10, ..., 100, 0, ... one
    // step per cycle, and starts at 0 again after every device.
    virtual void OnNothingFound(int nSearchPos) { (void)nSearchPos; }
    // A converter was found; its job starts next.
    virtual void OnDeviceFound(const DeviceUnit& unit) { (void)unit; }
    // The device's job is over (after OnJobEnded) and counted in tally; the
    // operator is asked to remove the device next.
    virtual void OnDeviceDone(const DeviceUnit& unit, const AutoTally& tally) {
        (void)unit;
        (void)tally;
    }
    // The parallel loop saw the device's port go after its job: that connector is
    // taken again when a reader appears on it.
    virtual void OnDeviceRemoved(const DeviceUnit& unit) { (void)unit; }
    // The loop has ended: stopped, or the number of devices asked for is reached.
    virtual void OnLoopEnded(const AutoTally& tally) { (void)tally; }
};

} // namespace fwup
