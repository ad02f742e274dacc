#pragma once
// Where unit records are kept: a JSON-lines file, a SQLite file or a PostgreSQL
// database. A store keeps each record id at most once where it can tell (the
// databases), so a record sent again after a failure is never doubled there.

#include "records/UnitRecord.h"

#include <string>

namespace fwup {

// What a Put did besides succeeding or failing.
struct PutNote {
    bool bAdded = false; // stored now; false after success: the id was there already
    // After a failure: the store works but refused this record's content (a value
    // it cannot hold); other records still go in, so this is no reason to pause.
    bool bRecordRefused = false;
};

class IRecordStore {
public:
    virtual ~IRecordStore() = default;
    // Stores one record durably before returning. False with strError (no
    // password in it) when the store could not take it; the caller may send it
    // again later. Called from one thread at a time.
    bool Put(const UnitRecord& record, std::string& strError) {
        PutNote note;
        return PutRecord(record, note, strError);
    }
    // Put, also telling what it did.
    virtual bool PutRecord(const UnitRecord& record, PutNote& note, std::string& strError) = 0;
};

} // namespace fwup
