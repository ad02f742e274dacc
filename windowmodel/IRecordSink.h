#pragma once
// IRecordSink: where the window's finished units' records go. Called on the
// job's thread; an implementation serialises its own writes.

#include "device/UpdateOutcome.h"
#include "device/UpdateRequest.h"
#include "workflows/DeviceUnit.h"

#include <string>

namespace fwup {

class IRecordSink {
public:
    virtual ~IRecordSink() = default;
    // The job on unit has started: its record's time counts from here.
    virtual void JobStarted(const DeviceUnit& unit) = 0;
    // The job has ended: write its record. Empty when written, else the line the
    // window logs (no line break).
    virtual std::string JobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                                 const UpdateRequest& request) = 0;
};

} // namespace fwup
