#pragma once
// IRecordSink: where finished units' records go (CUnitRecordLog, the store of
// --record). The recording observer (CRecordingObserver) tells it each job's
// start and end; JobStarted and JobEnded run on the job's thread and never wait
// on the store: an implementation serialises its own writes.

#include "device/DeviceUnit.h"
#include "device/UpdateOutcome.h"
#include "device/UpdateRequest.h"

#include <functional>
#include <string>

namespace fwup {

// What became of the records handed to a sink.
struct RecordTally {
    int nStored = 0;  // taken by the store
    int nSpooled = 0; // kept in the spool for later
    int nLost = 0;    // neither: the unit has no record
    int nSent = 0;    // spooled records sent to the store meanwhile
};

class IRecordSink {
public:
    using NoticeSink = std::function<void(const std::string& strNotice)>;

    virtual ~IRecordSink() = default;
    // Where the records go, for the front end's log (a password hidden).
    virtual const std::string& StoreName() const = 0;
    // Notices (a record spooled, sent later, or lost), one line each without a
    // line break, told on the sink's own thread. Set before the first record.
    virtual void SetNoticeSink(NoticeSink sink) = 0;
    // The job on unit has started: its record's time counts from here.
    virtual void JobStarted(const DeviceUnit& unit) = 0;
    // The job has ended with outcome; request as the job left it: queue its
    // record. False when the sink could not take it (no store open).
    virtual bool JobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                          const UpdateRequest& request) = 0;
    // Waits until every record handed over is stored, spooled or lost (bounded
    // by the store's own time-outs) and ends the sink's work; what became of
    // them. No notice comes after it.
    virtual RecordTally Close() = 0;
};

} // namespace fwup
