#include "records/CRecordSpool.h"

namespace fwup {

CRecordSpool::CRecordSpool(std::unique_ptr<ISqlConnection> pConnection, std::string strPath)
    : m_pConnection(std::move(pConnection)), m_strPath(std::move(strPath)) {}

bool CRecordSpool::Prepare(std::string& strError) {
    m_bPrepared =
        m_bPrepared || m_pConnection->Exec("CREATE TABLE IF NOT EXISTS spool (store TEXT NOT NULL, "
                                           "id TEXT NOT NULL, line TEXT NOT NULL, reason TEXT, "
                                           "PRIMARY KEY (store, id))",
                                           {}, nullptr, strError);
    return m_bPrepared;
}

bool CRecordSpool::Put(const std::string& strKey, const UnitRecord& record,
                       const std::string& strReason, std::string& strError) {
    return Prepare(strError) &&
           m_pConnection->Exec("INSERT INTO spool (store, id, line, reason) VALUES ($1, $2, $3, "
                               "$4) ON CONFLICT (store, id) DO NOTHING",
                               {strKey, record.strId, FormatUnitRecord(record), strReason}, nullptr,
                               strError);
}

bool CRecordSpool::Pending(const std::string& strKey, std::vector<UnitRecord>& records,
                           std::string& strError, std::vector<std::string>* pUnreadable) {
    std::vector<SqlRow> rows;
    if (!Prepare(strError) ||
        !m_pConnection->Exec("SELECT id, line FROM spool WHERE store = $1 ORDER BY rowid", {strKey},
                             &rows, strError)) {
        return false;
    }
    for (const SqlRow& row : rows) {
        UnitRecord record;
        std::string strBad = "no line";
        if (row[1] && ParseUnitRecord(*row[1], record, strBad)) {
            records.push_back(std::move(record));
        } else if (pUnreadable != nullptr) {
            pUnreadable->push_back("record " + row[0].value_or("") +
                                   ": its spooled line does not read back (" + strBad + ")");
        }
    }
    return true;
}

bool CRecordSpool::Remove(const std::string& strKey, const std::string& strId,
                          std::string& strError) {
    return m_pConnection->Exec("DELETE FROM spool WHERE store = $1 AND id = $2", {strKey, strId},
                               nullptr, strError);
}

} // namespace fwup
