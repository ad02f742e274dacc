// A Windows build configured without the cross-built SQLite and libpq: JSON
// lines only and no spool.
#include "records/RecordBackends.h"

#include "records/RecordStoreText.h"

namespace fwup {

std::unique_ptr<ISqlConnection> OpenSqlConnection(const std::string& strStore,
                                                  std::string& strError, std::chrono::milliseconds,
                                                  bool) {
    const std::string strShown = MaskedStore(strStore);
    strError = "this build writes JSON lines only: record to a file not ending .db, .sqlite "
               "or .sqlite3 (such as units.jsonl) instead of " +
               std::string(strStore.find("://") != std::string::npos ? "a database URI"
                                                                     : "'" + strShown + "'");
    return nullptr;
}

// No libpq to parse with: every PostgreSQL string is shown fully masked.
bool ParseStoreSecrets(const std::string&, std::vector<std::string>&, std::string& strError) {
    strError = "this build has no PostgreSQL client";
    return false;
}

std::unique_ptr<CRecordSpool> OpenSpool(bool, std::string& strError) {
    strError = "this build has no spool (it writes JSON lines only)";
    return nullptr;
}

} // namespace fwup
