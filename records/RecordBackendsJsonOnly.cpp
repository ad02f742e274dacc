// The Windows build: no SQLite or libpq to link, so JSON lines only and no spool.
#include "records/RecordBackends.h"

namespace fwup {

std::unique_ptr<ISqlConnection> OpenSqlConnection(const std::string& strStore,
                                                  std::string& strError) {
    strError = "this build writes JSON lines only: record to a file not ending .db, .sqlite "
               "or .sqlite3 (such as units.jsonl) instead of " +
               std::string(strStore.find("://") != std::string::npos ? "a database URI"
                                                                     : "'" + strStore + "'");
    return nullptr;
}

std::unique_ptr<CRecordSpool> OpenSpool(bool, std::string& strError) {
    strError = "this build has no spool (it writes JSON lines only)";
    return nullptr;
}

} // namespace fwup
