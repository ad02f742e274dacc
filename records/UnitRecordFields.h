#pragma once
// The unit record described once: one row per field, in the order of a record's
// JSON line. The JSON line (written and read), the table `units` (its columns,
// the insert and the select), `records import` and `records list --csv` all
// follow these rows. A new field is a member of UnitRecord, one row here naming
// the store version that adds its column, and that version in CRecordDb.

#include "records/UnitRecord.h"

#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace fwup {

// Where a field lives in UnitRecord. Its type says how the field is written: a
// text, a text or null, a whole number, a number with three decimals.
using UnitRecordMember =
    std::variant<std::string UnitRecord::*, std::optional<std::string> UnitRecord::*,
                 int UnitRecord::*, int64_t UnitRecord::*, double UnitRecord::*>;

inline constexpr uint32_t kFieldKey = 1;      // the primary key: the table's first column
inline constexpr uint32_t kFieldIndexed = 2;  // the table has an index on it
inline constexpr uint32_t kFieldRequired = 4; // a JSON line without it is refused
// A JSON line leaves the key out when the field has none, so that lines of units
// that lack it read as they did before the field existed.
inline constexpr uint32_t kFieldOmittedWhenNone = 8;

struct UnitRecordField {
    const char* pszJsonKey; // key in a JSON line, title in CSV; the field's name in messages
    const char* pszColumn;  // column of `units`
    // PostgreSQL's type; NOT NULL unless the member is optional. TIMESTAMPTZ marks
    // a UTC time: canonical "…Z" text in a line and as SQLite's TEXT.
    const char* pszSqlType;
    UnitRecordMember member;
    uint32_t dwFlags;
    // The store version whose migration added the column; rows stored before it
    // get what a UnitRecord holds when nothing sets the member.
    int nSchemaVersion;
    // A number's least value that a record line may hold (sizes, seconds: 0;
    // attempts: 1); the member's type bounds it otherwise.
    int64_t nMinimum = INT64_MIN;
};

// Lines older than id, station, slot and attempt lack them: not required there.
inline constexpr UnitRecordField kUnitRecordFields[] = {
    // JSON key, column, SQL type, member, flags, schema version[, least value]
    {"time", "time", "TIMESTAMPTZ", &UnitRecord::strTime, kFieldRequired | kFieldIndexed, 1},
    {"port", "port", "TEXT", &UnitRecord::strPort, kFieldRequired, 1},
    {"connector", "connector", "TEXT", &UnitRecord::strConnector, kFieldRequired, 1},
    {"serial", "serial", "TEXT", &UnitRecord::optSerial, kFieldIndexed, 1},
    {"version", "version", "TEXT", &UnitRecord::optVersion, 0, 1},
    {"boot", "boot", "TEXT", &UnitRecord::optBoot, 0, 1},
    {"file", "file", "TEXT", &UnitRecord::strFile, kFieldRequired, 1},
    {"size", "size", "BIGINT", &UnitRecord::nSize, kFieldRequired, 1, 0},
    {"sha256", "sha256", "TEXT", &UnitRecord::optSha256, 0, 1},
    {"result", "result", "TEXT", &UnitRecord::strResult, kFieldRequired, 1},
    {"exit_code", "exit_code", "INTEGER", &UnitRecord::nExitCode, kFieldRequired, 1},
    {"seconds", "seconds", "DOUBLE PRECISION", &UnitRecord::dSeconds, kFieldRequired, 1, 0},
    {"id", "id", "TEXT", &UnitRecord::strId, kFieldKey, 1},
    {"station", "station", "TEXT", &UnitRecord::strStation, 0, 1},
    {"slot", "slot", "TEXT", &UnitRecord::strSlot, 0, 1},
    {"attempt", "attempt", "INTEGER", &UnitRecord::nAttempt, 0, 1, 1},
    {"image_version", "image_version", "TEXT", &UnitRecord::optImageVersion, kFieldOmittedWhenNone,
     3},
    {"image_signer", "image_signer", "TEXT", &UnitRecord::optImageSigner, kFieldOmittedWhenNone, 3},
    {"version_after", "version_after", "TEXT", &UnitRecord::optVersionAfter, kFieldOmittedWhenNone,
     4},
    {"verified", "verified", "TEXT", &UnitRecord::optVerified, kFieldOmittedWhenNone, 4},
    {"cause", "cause", "TEXT", &UnitRecord::optCause, kFieldOmittedWhenNone, 4},
    {"outcome", "outcome", "TEXT", &UnitRecord::optOutcome, kFieldOmittedWhenNone, 4},
};

// The field's value as text, as a database gets it and CSV shows it: numbers in
// decimal, seconds with three decimals; none for an optional field without one.
std::optional<std::string> FieldText(const UnitRecord& record, const UnitRecordField& field);
// Sets the field from a database's text (none: empty text, zero, or none).
void SetFieldText(UnitRecord& record, const UnitRecordField& field,
                  const std::optional<std::string>& optText);
bool IsNumberField(const UnitRecordField& field);   // written unquoted in a JSON line
bool IsOptionalField(const UnitRecordField& field); // may be null (NULL in SQL)
bool IsUtcTimeField(const UnitRecordField& field);

} // namespace fwup
