#pragma once
// CRecordLogSink: the window's records into the JSON lines file of --record.

#include "windowmodel/IRecordSink.h"
#include "workflows/CUnitRecordLog.h"

#include <string>

namespace fwup {

class CRecordLogSink : public IRecordSink {
public:
    // records: borrowed, open; strPath names it in the failure line.
    CRecordLogSink(CUnitRecordLog& records, std::string strPath)
        : m_records(records), m_strPath(std::move(strPath)) {}

    void JobStarted(const DeviceUnit& unit) override { m_records.JobStarted(unit); }
    std::string JobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                         const UpdateRequest& request) override {
        return m_records.JobEnded(unit, outcome, request)
                   ? std::string()
                   : "the unit's record could not be written to " + m_strPath;
    }

private:
    CUnitRecordLog& m_records;
    const std::string m_strPath;
};

} // namespace fwup
