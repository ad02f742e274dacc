#pragma once
// CRecordSpool: the local SQLite file that keeps records a store could not take,
// until they are sent to it (with that store's next record, or by `records sync`).
// Records are keyed by store and id, so a record spooled twice is kept once.

#include "records/ISqlConnection.h"
#include "records/UnitRecord.h"

#include <memory>
#include <string>
#include <vector>

namespace fwup {

class CRecordSpool {
public:
    // Takes an open connection to the spool file; strPath is shown in messages.
    CRecordSpool(std::unique_ptr<ISqlConnection> pConnection, std::string strPath);

    const std::string& Path() const { return m_strPath; }
    // Keeps record for the store strKey (see StoreKey) with the reason it is here.
    bool Put(const std::string& strKey, const UnitRecord& record, const std::string& strReason,
             std::string& strError);
    // The records kept for strKey, oldest first; a kept line that does not read
    // back as a record is named in pUnreadable (with why) and stays.
    bool Pending(const std::string& strKey, std::vector<UnitRecord>& records, std::string& strError,
                 std::vector<std::string>* pUnreadable = nullptr);
    bool Remove(const std::string& strKey, const std::string& strId, std::string& strError);

private:
    bool Prepare(std::string& strError);

    std::unique_ptr<ISqlConnection> m_pConnection;
    std::string m_strPath;
    bool m_bPrepared = false;
};

} // namespace fwup
