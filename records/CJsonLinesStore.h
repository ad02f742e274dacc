#pragma once
// CJsonLinesStore: a file of unit records, one JSON object per line. Each record
// is one line appended under the file's advisory lock and synced before Put
// returns, so writers in this and other processes never interleave, each record
// id is appended once (a record already in the file, also one another process
// wrote, is not written again), and a crash loses at most the unit in flight. A
// torn last line (a crash or a full disk cut it short) is ended with a line feed
// before the next append: it stays in the file as a bad line that import
// reports, and the next record is not glued onto it.

#include "records/IRecordStore.h"
#include "records/ISqlConnection.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>

namespace fwup {

class CJsonLinesStore : public IRecordStore {
public:
    CJsonLinesStore() = default;
    ~CJsonLinesStore() override; // closes the file
    CJsonLinesStore(const CJsonLinesStore&) = delete;
    CJsonLinesStore& operator=(const CJsonLinesStore&) = delete;

    // Opens (creating) strPath for appending; refuses anything but a regular file
    // (a FIFO or directory would hang or fail every unit). A Put waits for the
    // file's lock at most deadline. False with strError.
    bool Open(const std::string& strPath, std::string& strError,
              std::chrono::milliseconds deadline = kStoreDeadline);
    // Any thread. The first Put reads the ids of the whole file, later ones only
    // what was appended since.
    bool PutRecord(const UnitRecord& record, PutNote& note, std::string& strError) override;

private:
    // With the file's lock held: notes the ids of the lines appended since the
    // last call and ends a torn last line.
    bool CatchUp(std::string& strError);

    std::mutex m_mutex; // one line at a time from this process
    intptr_t m_nHandle = -1;
    std::chrono::milliseconds m_deadline = kStoreDeadline;
    int64_t m_nScanned = 0; // bytes of whole lines whose ids are in m_ids
    std::unordered_set<std::string> m_ids;
};

} // namespace fwup
