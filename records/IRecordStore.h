#pragma once
// Where unit records are kept: a JSON-lines file, a SQLite file or a PostgreSQL
// database. A store keeps each record id at most once where it can tell (the
// databases), so a record sent again after a failure is never doubled there.

#include "records/UnitRecord.h"

#include <string>

namespace fwup {

class IRecordStore {
public:
    virtual ~IRecordStore() = default;
    // Stores one record durably before returning. False with strError (no
    // password in it) when the store could not take it; the caller may send it
    // again later. Called from one thread at a time.
    virtual bool Put(const UnitRecord& record, std::string& strError) = 0;
};

} // namespace fwup
