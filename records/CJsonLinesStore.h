#pragma once
// CJsonLinesStore: a file of unit records, one JSON object per line. Each record
// is one line written with a single append and synced before Put returns, so
// sessions writing at the same time never interleave and a crash loses at most
// the unit in flight. A JSON-lines file cannot tell which ids it holds: a record
// sent twice is there twice.

#include "records/IRecordStore.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace fwup {

class CJsonLinesStore : public IRecordStore {
public:
    CJsonLinesStore() = default;
    ~CJsonLinesStore() override; // closes the file
    CJsonLinesStore(const CJsonLinesStore&) = delete;
    CJsonLinesStore& operator=(const CJsonLinesStore&) = delete;

    // Opens (creating) strPath for appending; refuses anything but a regular file
    // (a FIFO or directory would hang or fail every unit). False with strError.
    bool Open(const std::string& strPath, std::string& strError);
    bool Put(const UnitRecord& record, std::string& strError) override; // any thread

private:
    std::mutex m_mutex; // one line at a time from this process
    intptr_t m_nHandle = -1;
};

} // namespace fwup
