#pragma once
// CUnitRecordLog: the file of unit records. Each record is one line written with
// a single append and synced before Append returns, so sessions writing at the
// same time never interleave and a crash loses at most the unit in flight.

#include "workflows/UnitRecord.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace fwup {

class CUnitRecordLog {
public:
    CUnitRecordLog() = default;
    ~CUnitRecordLog(); // closes the file
    CUnitRecordLog(const CUnitRecordLog&) = delete;
    CUnitRecordLog& operator=(const CUnitRecordLog&) = delete;

    // Opens (creating) strPath for appending. False with strError saying why.
    bool Open(const std::string& strPath, std::string& strError);
    bool IsOpen() const { return m_nHandle != kNoFile; }
    // Appends one record line; false when the write or the sync failed. Any thread.
    bool Append(const UnitRecord& record);

    // For observers: the job on unit has started (its record's seconds count from
    // here), and it has ended: append its record. Any thread; units are told
    // apart by their listed name.
    void JobStarted(const DeviceUnit& unit);
    bool JobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                  const UpdateRequest& request);

private:
    static constexpr intptr_t kNoFile = -1;
    // The platform's side: open for appending, one whole-line write plus sync, close.
    static intptr_t OpenAppend(const std::string& strPath, std::string& strError);
    static bool WriteLineDurably(intptr_t nHandle, const std::string& strLine);
    static void CloseFile(intptr_t nHandle);

    std::mutex m_mutex; // one line at a time from this process; m_starts
    intptr_t m_nHandle = kNoFile;
    std::map<std::string, std::chrono::steady_clock::time_point> m_starts;
};

} // namespace fwup
