#pragma once
// CRecordLogSink: the window's records into the store of --record (JSON lines,
// SQLite or PostgreSQL), through the records' own writer thread.

#include "records/CUnitRecordLog.h"
#include "windowmodel/IRecordSink.h"

#include <string>

namespace fwup {

class CRecordLogSink : public IRecordSink {
public:
    // records: borrowed, open, outlives the sink.
    explicit CRecordLogSink(CUnitRecordLog& records) : m_records(records) {}

    std::string StoreName() const override { return m_records.StoreName(); }
    void SetNoticeSink(NoticeSink sink) override { m_records.SetNoticeSink(std::move(sink)); }
    void JobStarted(const DeviceUnit& unit) override { m_records.JobStarted(unit); }
    std::string JobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                         const UpdateRequest& request) override {
        return m_records.JobEnded(unit, outcome, request)
                   ? std::string()
                   : "the unit's record could not be written to " + m_records.StoreName();
    }
    void Finish() override { m_records.Close(); }

private:
    CUnitRecordLog& m_records;
};

} // namespace fwup
