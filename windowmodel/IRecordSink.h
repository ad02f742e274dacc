#pragma once
// IRecordSink: where the window's finished units' records go. JobStarted and
// JobEnded are called on the job's thread and never wait on the store; an
// implementation serialises its own writes.

#include "device/UpdateOutcome.h"
#include "device/UpdateRequest.h"
#include "workflows/DeviceUnit.h"

#include <functional>
#include <string>

namespace fwup {

class IRecordSink {
public:
    using NoticeSink = std::function<void(const std::string& strNotice)>;

    virtual ~IRecordSink() = default;
    // Where the records go, for the log (a password hidden).
    virtual std::string StoreName() const = 0;
    // Notices (a record spooled, sent later, or lost), one line each without a
    // line break, told on the sink's own thread. Set before the first record.
    virtual void SetNoticeSink(NoticeSink sink) = 0;
    // The job on unit has started: its record's time counts from here.
    virtual void JobStarted(const DeviceUnit& unit) = 0;
    // The job has ended: hand its record over. Empty when taken, else the line
    // the window logs (no line break).
    virtual std::string JobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                                 const UpdateRequest& request) = 0;
    // Waits until every record handed over is stored, spooled or lost (bounded by
    // the store's own time-outs); no notice comes after it.
    virtual void Finish() = 0;
};

} // namespace fwup
