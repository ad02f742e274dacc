#include "records/CRecordDb.h"

#include "records/UnitRecordFields.h"
#include "serial/Utf8Text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace fwup {

namespace {

static_assert(
    [] {
        int nKeys = 0;
        for (const UnitRecordField& field : kUnitRecordFields) {
            if (field.nSchemaVersion < 1 || field.nSchemaVersion > CRecordDb::kSchemaVersion) {
                return false;
            }
            if ((field.dwFlags & kFieldKey) != 0 && (++nKeys > 1 || field.nSchemaVersion != 1)) {
                return false;
            }
        }
        return nKeys == 1;
    }(),
    "one key, made with the table; every column added by a version this program knows");

// The columns of `units` in their order: the key, then the fields in their order.
const std::vector<const UnitRecordField*>& Columns() {
    static const std::vector<const UnitRecordField*> columns = [] {
        std::vector<const UnitRecordField*> out;
        for (const UnitRecordField& field : kUnitRecordFields) {
            out.insert((field.dwFlags & kFieldKey) != 0 ? out.begin() : out.end(), &field);
        }
        return out;
    }();
    return columns;
}

const UnitRecordField& KeyField() {
    return *Columns().front();
}

// "a, b, c": each column's text from columnText, in the columns' order; a
// column given no text is left out.
template <class F> std::string ColumnList(F columnText) {
    std::string strList;
    for (const UnitRecordField* pField : Columns()) {
        const std::string strText = columnText(*pField);
        if (!strText.empty()) {
            strList += strList.empty() ? "" : ", ";
            strList += strText;
        }
    }
    return strList;
}

// A field's value as its column holds it: a text as SqlText's valid UTF-8, so
// that any bytes go into either database and come back exactly.
SqlValue ColumnValue(const UnitRecord& record, const UnitRecordField& field) {
    SqlValue value = FieldText(record, field);
    if (value && !IsNumberField(field)) {
        *value = SqlText(*value);
    }
    return value;
}

SqlValue FromColumn(const SqlValue& value, const UnitRecordField& field) {
    return value && !IsNumberField(field) ? SqlValue(BytesFromSqlText(*value)) : value;
}

int64_t Integer(const SqlValue& value) {
    return value ? std::strtoll(value->c_str(), nullptr, 10) : 0;
}

// Seconds since 1970 of a canonical UTC time (days from the civil calendar).
int64_t EpochSeconds(const std::string& strTime) {
    int nYear = 1970, nMonth = 1, nDay = 1, nHour = 0, nMinute = 0, nSecond = 0;
    std::sscanf(strTime.c_str(), "%d-%d-%dT%d:%d:%d", &nYear, &nMonth, &nDay, &nHour, &nMinute,
                &nSecond);
    const int64_t y = nYear - (nMonth <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (nMonth + (nMonth > 2 ? -3 : 9)) + 2) / 5 + nDay - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t nDays = era * 146097 + doe - 719468;
    return nDays * 86400 + nHour * 3600 + nMinute * 60 + nSecond;
}

} // namespace

std::pair<std::string, std::string> SlotKeyParts(const std::string& strKey) {
    const size_t nAt = strKey.find('\x1f');
    return nAt == std::string::npos ? std::make_pair(std::string(), strKey)
                                    : std::make_pair(strKey.substr(0, nAt), strKey.substr(nAt + 1));
}

bool IsSlotFarBelow(const SummaryRow& slot, const SummaryRow& station) {
    return slot.nSerials >= kSlotFlagSerials &&
           (station.FirstPassYield() - slot.FirstPassYield()) * 100.0 >= kSlotFlagPoints - 1e-9;
}

CRecordDb::CRecordDb(std::unique_ptr<ISqlConnection> pConnection, std::string strName)
    : m_pConnection(std::move(pConnection)), m_strName(std::move(strName)) {}

std::string CRecordDb::ColumnText(const UnitRecordField& field) const {
    const std::string strColumn = field.pszColumn;
    return m_pConnection->Dialect() == SqlDialect::Sqlite || !IsUtcTimeField(field)
               ? strColumn
               : "to_char(" + strColumn + " AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')";
}

std::string CRecordDb::ColumnDefinition(const UnitRecordField& field) const {
    std::string strDefinition = field.pszColumn;
    strDefinition += ' ';
    strDefinition += IsUtcTimeField(field) && m_pConnection->Dialect() == SqlDialect::Sqlite
                         ? "TEXT"
                         : field.pszSqlType;
    if ((field.dwFlags & kFieldKey) != 0) {
        strDefinition += " PRIMARY KEY";
    } else if (!IsOptionalField(field)) {
        strDefinition += " NOT NULL";
    }
    return strDefinition;
}

std::vector<std::string> CRecordDb::MigrationTo(int nVersion) const {
    std::vector<std::string> sql;
    if (nVersion == 1) {
        sql.push_back("CREATE TABLE IF NOT EXISTS units (" +
                      ColumnList([&](const UnitRecordField& field) {
                          return field.nSchemaVersion == 1 ? ColumnDefinition(field) : "";
                      }) +
                      ")");
    }
    for (const UnitRecordField* pField : Columns()) {
        if (nVersion > 1 && pField->nSchemaVersion == nVersion) {
            // The rows already stored get what a record has when nothing sets it.
            const std::optional<std::string> optDefault = FieldText(UnitRecord{}, *pField);
            std::string strDefault;
            for (const char c : optDefault.value_or("")) {
                strDefault += c == '\'' ? "''" : std::string(1, c);
            }
            sql.push_back("ALTER TABLE units ADD COLUMN " + ColumnDefinition(*pField) +
                          (optDefault ? " DEFAULT '" + strDefault + "'" : ""));
        }
    }
    for (const UnitRecordField* pField : Columns()) {
        const std::string strColumn = pField->pszColumn;
        if ((pField->dwFlags & kFieldIndexed) != 0 && pField->nSchemaVersion == nVersion) {
            sql.push_back("CREATE INDEX IF NOT EXISTS units_" + strColumn + " ON units (" +
                          strColumn + ")");
        }
    }
    if (nVersion == 4) {
        // Version 2's aggregates counted every record alike and had no final
        // yield: made again from the units under today's rules, while no older
        // program's writer can add a unit the trigger would miss. Version 2
        // itself adds nothing now: a store comes up to 4 in one go.
        if (m_pConnection->Dialect() == SqlDialect::Postgres) {
            sql.push_back("LOCK TABLE units IN SHARE ROW EXCLUSIVE MODE");
            sql.push_back("DROP TRIGGER IF EXISTS units_aggregate ON units");
            sql.push_back("DROP FUNCTION IF EXISTS units_aggregate()");
        } else {
            sql.push_back("DROP TRIGGER IF EXISTS units_aggregate");
        }
        for (const char* pszTable : {"units_first", "units_last", "units_yield", "units_seconds",
                                     "units_apart", "units_hours", "units_causes"}) {
            sql.push_back(std::string("DROP TABLE IF EXISTS ") + pszTable);
        }
        for (std::string& strSql : AggregateSchema()) {
            sql.push_back(std::move(strSql));
        }
    }
    return sql;
}

std::string CRecordDb::DayOf(const std::string& strTime) const {
    return m_pConnection->Dialect() == SqlDialect::Sqlite
               ? "substr(" + strTime + ", 1, 10)"
               : "to_char(" + strTime + " AT TIME ZONE 'UTC', 'YYYY-MM-DD')";
}

std::string CRecordDb::HourOf(const std::string& strTime) const {
    return m_pConnection->Dialect() == SqlDialect::Sqlite
               ? "substr(" + strTime + ", 1, 13)"
               : "to_char(" + strTime + " AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24')";
}

std::string CRecordDb::CauseKind(const std::string& strRow) {
    // Nested replace(): the one string function both databases have alike.
    std::string strCause = "coalesce(" + strRow + "cause, '')";
    for (char c = '0'; c <= '9'; ++c) {
        strCause = "replace(" + strCause + ", '" + c + "', '#')";
    }
    for (int n = 0; n < 4; ++n) { // runs of up to 16 digits
        strCause = "replace(" + strCause + ", '##', '#')";
    }
    return strRow + "result || ': ' || " + strCause;
}

std::string CRecordDb::OwnShard() {
    return "pg_backend_pid() % " + std::to_string(kShards) + " + 1";
}

std::string CRecordDb::GroupKey(int nGroup, const std::string& strRow) const {
    switch (nGroup) {
    case 0:
        return "CAST('' AS TEXT)";
    case 1:
        return strRow + "station";
    case 2:
        return "coalesce(" + strRow + "sha256, '')";
    case 3:
        return DayOf(strRow + "time");
    default:
        // Slots are named per station ("Slot 1" on every bench): the station,
        // a unit separator (never in a name), the slot.
        return strRow + "station || " +
               (m_pConnection->Dialect() == SqlDialect::Sqlite ? "char(31)" : "chr(31)") + " || " +
               strRow + "slot";
    }
}

std::vector<std::string> CRecordDb::AggregateSchema() const {
    const bool bSqlite = m_pConnection->Dialect() == SqlDialect::Sqlite;
    // Ids compare byte by byte in both databases, as a fixed order among ties.
    const std::string strC = bSqlite ? "" : " COLLATE \"C\"";
    const std::string strTime = bSqlite ? "TEXT" : "TIMESTAMPTZ";
    const std::string strAttemptTable =
        " (grp INTEGER NOT NULL, k TEXT NOT NULL, serial TEXT NOT NULL, time " + strTime +
        " NOT NULL, attempt INTEGER NOT NULL, id TEXT NOT NULL, ok INTEGER NOT NULL, PRIMARY KEY "
        "(grp, k, serial))";
    std::vector<std::string> sql = {
        // Each serial's first and last counted attempt (time, attempt, id) overall
        // (group 0, key ''), at each station (1), with each image (2), on each UTC
        // day (3) and in each slot (4).
        "CREATE TABLE units_first" + strAttemptTable, "CREATE TABLE units_last" + strAttemptTable,
        // The counting tables below hold counts to add up: each PostgreSQL
        // writer adds to rows of its own shard (1..kShards), so many writers at
        // once never queue on one overall row; FoldShard moves a shard's rows
        // into shard 0 now and then. SQLite has one writer: shard 0 alone.
        // Per group and key: its serials, those whose first attempt passed and
        // those whose last one did.
        "CREATE TABLE units_yield (grp INTEGER NOT NULL, k TEXT NOT NULL, shard INTEGER NOT NULL, "
        "serials BIGINT NOT NULL, first_passed BIGINT NOT NULL, last_passed BIGINT NOT NULL, "
        "PRIMARY KEY (grp, k, shard))",
        // Per group, key and tenth of a second: counted attempts and passed ones;
        // fixed bins, so the table stays small whatever the durations.
        "CREATE TABLE units_seconds (grp INTEGER NOT NULL, k TEXT NOT NULL, tenths BIGINT NOT "
        "NULL, shard INTEGER NOT NULL, n BIGINT NOT NULL, passed BIGINT NOT NULL, PRIMARY KEY "
        "(grp, k, tenths, shard))",
        // Per group and key: what stays out of the yields.
        "CREATE TABLE units_apart (grp INTEGER NOT NULL, k TEXT NOT NULL, shard INTEGER NOT NULL, "
        "stopped BIGINT NOT NULL, current BIGINT NOT NULL, no_serial BIGINT NOT NULL, PRIMARY "
        "KEY (grp, k, shard))",
        "CREATE TABLE units_hours (hour TEXT NOT NULL, shard INTEGER NOT NULL, n BIGINT NOT NULL, "
        "PRIMARY KEY (hour, shard))",
        // Failed attempts per kind of cause: the outcome's text and its cause
        // with every run of digits as one '#', so "block 17" and "block 5" are
        // one cause (the report's Pareto chart).
        "CREATE TABLE units_causes (cause TEXT NOT NULL, shard INTEGER NOT NULL, n BIGINT NOT "
        "NULL, PRIMARY KEY (cause, shard))"};
    // A record's word: its outcome, or for a record older than the outcome
    // column what its exit code says. Stopped and current records are neither
    // passed nor failed.
    const auto word = [](const std::string& r) {
        return "coalesce(" + r + "outcome, CASE WHEN " + r +
               "exit_code = 130 THEN 'stopped' ELSE '' END)";
    };
    const auto counted = [&](const std::string& r) {
        return word(r) + " NOT IN ('stopped', 'current')";
    };
    const auto ok = [](const std::string& r) {
        return "CASE WHEN " + r + "exit_code = 0 THEN 1 ELSE 0 END";
    };
    const auto tenths = [](const std::string& r) {
        return "CAST(round(" + r + "seconds * 1000) AS BIGINT) / 100";
    };
    // Filled once from the units already stored (an older store)...
    for (int nGroup = 0; nGroup < kGroups; ++nGroup) {
        const std::string strGroup = std::to_string(nGroup), strKey = GroupKey(nGroup, "u.");
        for (const auto& [pszTable, pszOrder] :
             {std::pair{"units_first", ""}, std::pair{"units_last", " DESC"}}) {
            const std::string strOrder = std::string(pszOrder);
            sql.push_back(std::string("INSERT INTO ") + pszTable +
                          " (grp, k, serial, time, attempt, id, ok) SELECT " + strGroup +
                          ", k, serial, time, attempt, id, ok FROM (SELECT " + strKey +
                          " AS k, u.serial, u.time, u.attempt, u.id, " + ok("u.") +
                          " AS ok, row_number() OVER (PARTITION BY " + strKey +
                          ", u.serial ORDER BY u.time" + strOrder + ", u.attempt" + strOrder +
                          ", u.id" + strC + strOrder +
                          ") AS rn FROM units u WHERE u.serial IS "
                          "NOT NULL AND " +
                          counted("u.") + ") x WHERE rn = 1");
        }
        sql.push_back("INSERT INTO units_seconds (grp, k, tenths, shard, n, passed) SELECT " +
                      strGroup + ", " + strKey + ", " + tenths("u.") + ", 0, count(*), sum(" +
                      ok("u.") + ") FROM units u WHERE " + counted("u.") + " GROUP BY 2, 3");
        sql.push_back("INSERT INTO units_apart (grp, k, shard, stopped, current, no_serial) "
                      "SELECT " +
                      strGroup + ", " + strKey + ", 0, sum(CASE WHEN " + word("u.") +
                      " = 'stopped' THEN 1 ELSE 0 END), sum(CASE WHEN " + word("u.") +
                      " = 'current' THEN 1 ELSE 0 END), sum(CASE WHEN u.serial IS NULL AND " +
                      counted("u.") +
                      " THEN 1 ELSE 0 END) FROM units u WHERE u.serial IS NULL "
                      "OR NOT (" +
                      counted("u.") + ") GROUP BY 2");
    }
    sql.push_back("INSERT INTO units_yield (grp, k, shard, serials, first_passed, last_passed) "
                  "SELECT f.grp, f.k, 0, count(*), sum(f.ok), sum(l.ok) FROM units_first f JOIN "
                  "units_last l ON l.grp = f.grp AND l.k = f.k AND l.serial = f.serial GROUP BY "
                  "f.grp, f.k");
    sql.push_back("INSERT INTO units_hours (hour, shard, n) SELECT " + HourOf("u.time") +
                  ", 0, count(*) FROM units u GROUP BY 1");
    sql.push_back("INSERT INTO units_causes (cause, shard, n) SELECT " + CauseKind("u.") +
                  ", 0, count(*) FROM units u WHERE u.exit_code <> 0 AND " + counted("u.") +
                  " GROUP BY 1");
    // ...then kept up to date by every unit really inserted, in its own
    // transaction. Locks are taken in one order (per group the first attempt,
    // its yield, the last attempt; the durations; what stays apart; the hour),
    // so writers never deadlock.
    std::string strBody;
    const std::string strShard = bSqlite ? "0" : "nShard";
    const std::string strNewOk = ok("NEW.");
    const std::string strNewCounted = counted("NEW.");
    const auto before = [&](const char* pszA, const char* pszB) {
        return std::string("(") + pszA + ".time, " + pszA + ".attempt, " + pszA + ".id" + strC +
               ") < (" + pszB + ".time, " + pszB + ".attempt, " + pszB + ".id" + strC + ")";
    };
    for (int nGroup = 0; nGroup < kGroups; ++nGroup) {
        const std::string strGroup = std::to_string(nGroup), strKey = GroupKey(nGroup, "NEW.");
        // serials, first passed, last passed: each an expression to add.
        const auto yield = [&](const std::string& strSerials, const std::string& strFirst,
                               const std::string& strLast, const std::string& strFrom) {
            return "INSERT INTO units_yield (grp, k, shard, serials, first_passed, last_passed) "
                   "SELECT " +
                   strGroup + ", " + strKey + ", " + strShard + ", " + strSerials + ", " +
                   strFirst + ", " + strLast + strFrom +
                   " ON CONFLICT (grp, k, shard) DO UPDATE SET serials = units_yield.serials + "
                   "excluded.serials, first_passed = units_yield.first_passed + "
                   "excluded.first_passed, last_passed = units_yield.last_passed + "
                   "excluded.last_passed;\n";
        };
        const auto where = [&](const char* pszAlias) {
            return std::string(pszAlias) + ".grp = " + strGroup + " AND " + pszAlias +
                   ".k = " + strKey + " AND " + pszAlias + ".serial = NEW.serial";
        };
        if (bSqlite) {
            // A new first attempt adds a serial; an earlier one arriving later
            // (spool, import) replaces it and only moves the passed count. The
            // last attempt likewise, with a later one.
            const std::string strMine = " WHERE NEW.serial IS NOT NULL AND " + strNewCounted;
            for (const bool bFirst : {true, false}) {
                const char* pszTable = bFirst ? "units_first" : "units_last";
                const char* pszAlias = bFirst ? "f" : "l";
                const std::string strReplaces =
                    bFirst ? before("NEW", pszAlias) : before(pszAlias, "NEW");
                const std::string strDelta = strNewOk + " - coalesce(" + pszAlias + ".ok, 0)";
                strBody += yield(bFirst ? "CASE WHEN f.ok IS NULL THEN 1 ELSE 0 END" : "0",
                                 bFirst ? strDelta : "0", bFirst ? "0" : strDelta,
                                 std::string(" FROM (SELECT 1 AS one) o LEFT JOIN ") + pszTable +
                                     " " + pszAlias + " ON " + where(pszAlias) + strMine +
                                     " AND (" + pszAlias + ".ok IS NULL OR " + strReplaces + ")");
                const std::string strTable = pszTable;
                strBody +=
                    "INSERT INTO " + strTable + " (grp, k, serial, time, attempt, id, ok) SELECT " +
                    strGroup + ", " + strKey + ", NEW.serial, NEW.time, NEW.attempt, NEW.id, " +
                    strNewOk + strMine +
                    " ON CONFLICT (grp, k, serial) DO UPDATE SET time = excluded.time, "
                    "attempt = excluded.attempt, id = excluded.id, ok = excluded.ok WHERE " +
                    (bFirst ? "(excluded.time, excluded.attempt, excluded.id) < (" + strTable +
                                  ".time, " + strTable + ".attempt, " + strTable + ".id)"
                            : "(" + strTable + ".time, " + strTable + ".attempt, " + strTable +
                                  ".id) < (excluded.time, excluded.attempt, excluded.id)") +
                    ";\n";
            }
            continue;
        }
        // Concurrent writers: an attempt's row is inserted or locked before its
        // yield moves, so two records of one serial at once count it once (the
        // second waits for the first and then sees its row).
        strBody += "IF NEW.serial IS NOT NULL AND " + strNewCounted + " THEN\n";
        for (const bool bFirst : {true, false}) {
            const std::string strTable = bFirst ? "units_first" : "units_last";
            const char* pszAlias = bFirst ? "f" : "l";
            const std::string strReplaces =
                bFirst ? before("NEW", pszAlias) : before(pszAlias, "NEW");
            const std::string strDelta = strNewOk + " - nOld";
            strBody +=
                "INSERT INTO " + strTable + " (grp, k, serial, time, attempt, id, ok) VALUES (" +
                strGroup + ", " + strKey + ", NEW.serial, NEW.time, NEW.attempt, NEW.id, " +
                strNewOk + ") ON CONFLICT (grp, k, serial) DO NOTHING;\nIF FOUND THEN\n" +
                yield(bFirst ? "1" : "0", bFirst ? strNewOk : "0", bFirst ? "0" : strNewOk, "") +
                "ELSE\nSELECT " + pszAlias + ".ok INTO nOld FROM " + strTable + " " + pszAlias +
                " WHERE " + where(pszAlias) + " AND " + strReplaces +
                " FOR UPDATE;\nIF FOUND THEN\nUPDATE " + strTable + " " + pszAlias +
                " SET time = NEW.time, attempt = NEW.attempt, id = NEW.id, ok = " + strNewOk +
                " WHERE " + where(pszAlias) + ";\n" +
                yield("0", bFirst ? strDelta : "0", bFirst ? "0" : strDelta, "") +
                "END IF;\nEND IF;\n";
        }
        strBody += "END IF;\n";
    }
    for (int nGroup = 0; nGroup < kGroups; ++nGroup) {
        const std::string strGroup = std::to_string(nGroup), strKey = GroupKey(nGroup, "NEW.");
        strBody += "INSERT INTO units_seconds (grp, k, tenths, shard, n, passed) SELECT " +
                   strGroup + ", " + strKey + ", " + tenths("NEW.") + ", " + strShard + ", 1, " +
                   strNewOk + " WHERE " + strNewCounted +
                   " ON CONFLICT (grp, k, tenths, shard) DO UPDATE SET n = units_seconds.n + 1, "
                   "passed = units_seconds.passed + excluded.passed;\n";
    }
    // Most records are counted and have a serial: they touch no row here.
    for (int nGroup = 0; nGroup < kGroups; ++nGroup) {
        const std::string strGroup = std::to_string(nGroup), strKey = GroupKey(nGroup, "NEW.");
        strBody += "INSERT INTO units_apart (grp, k, shard, stopped, current, no_serial) SELECT " +
                   strGroup + ", " + strKey + ", " + strShard + ", CASE WHEN " + word("NEW.") +
                   " = 'stopped' THEN 1 ELSE 0 END, CASE WHEN " + word("NEW.") +
                   " = 'current' THEN 1 ELSE 0 END, CASE WHEN NEW.serial IS NULL AND " +
                   strNewCounted + " THEN 1 ELSE 0 END WHERE NEW.serial IS NULL OR NOT (" +
                   strNewCounted +
                   ") ON CONFLICT (grp, k, shard) DO UPDATE SET stopped = units_apart.stopped + "
                   "excluded.stopped, current = units_apart.current + excluded.current, "
                   "no_serial = units_apart.no_serial + excluded.no_serial;\n";
    }
    strBody += "INSERT INTO units_hours (hour, shard, n) VALUES (" + HourOf("NEW.time") + ", " +
               strShard + ", 1) ON CONFLICT (hour, shard) DO UPDATE SET n = units_hours.n + 1;\n";
    strBody += "INSERT INTO units_causes (cause, shard, n) SELECT " + CauseKind("NEW.") + ", " +
               strShard + ", 1 WHERE NEW.exit_code <> 0 AND " + strNewCounted +
               " ON CONFLICT (cause, shard) DO UPDATE SET n = units_causes.n + 1;\n";
    if (bSqlite) {
        // SQLite has one writer at a time: nothing to lock.
        sql.push_back("CREATE TRIGGER units_aggregate AFTER INSERT ON units BEGIN\n" + strBody +
                      "END");
    } else {
        sql.push_back("CREATE OR REPLACE FUNCTION units_aggregate() RETURNS trigger LANGUAGE "
                      "plpgsql AS $f$\nDECLARE nOld integer;\nnShard integer := " +
                      OwnShard() + ";\nBEGIN\n" + strBody + "RETURN NULL;\nEND $f$");
        sql.push_back("CREATE TRIGGER units_aggregate AFTER INSERT ON units FOR EACH ROW EXECUTE "
                      "FUNCTION units_aggregate()");
    }
    return sql;
}

bool CRecordDb::Prepare(std::string& strError) {
    if (m_bPrepared) {
        return true;
    }
    ISqlConnection& db = *m_pConnection;
    const bool bSqlite = db.Dialect() == SqlDialect::Sqlite;
    std::vector<SqlRow> rows;
    std::string strIgnored;
    // One creator at a time: two benches starting together must not both create.
    bool bOk =
        db.Exec(bSqlite ? "BEGIN IMMEDIATE" : "BEGIN", {}, nullptr, strError) &&
        (bSqlite || db.Exec("SELECT pg_advisory_xact_lock(20201208)", {}, nullptr, strError)) &&
        db.Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)", {}, nullptr,
                strError) &&
        db.Exec("SELECT max(version) FROM schema_version", {}, &rows, strError);
    const int64_t nVersion = bOk && !rows.empty() && rows[0][0] ? Integer(rows[0][0]) : 0;
    if (nVersion > kSchemaVersion) {
        strError = m_strName + " has records of schema version " + *rows[0][0] +
                   ", newer than this program's " + std::to_string(kSchemaVersion) +
                   "; use a newer fwupgrader with it";
        bOk = false;
    }
    for (int nStep = static_cast<int>(nVersion) + 1; bOk && nStep <= kSchemaVersion; ++nStep) {
        for (const std::string& strSql : MigrationTo(nStep)) {
            bOk = bOk && db.Exec(strSql, {}, nullptr, strError);
        }
    }
    if (bOk && nVersion < kSchemaVersion) {
        bOk = db.Exec("INSERT INTO schema_version (version) VALUES ($1)",
                      {std::to_string(kSchemaVersion)}, nullptr, strError);
    }
    if (!bOk || !db.Exec("COMMIT", {}, nullptr, strError)) {
        db.Exec("ROLLBACK", {}, nullptr, strIgnored);
        return false;
    }
    m_bPrepared = true;
    m_nVersion = kSchemaVersion;
    return true;
}

bool CRecordDb::PrepareToRead(std::string& strError) {
    if (m_bPrepared) {
        return true;
    }
    ISqlConnection& db = *m_pConnection;
    // Which of the two tables are there (1: units, 2: schema_version).
    std::vector<SqlRow> rows;
    const std::string strTables =
        db.Dialect() == SqlDialect::Sqlite
            ? "SELECT coalesce(sum(CASE name WHEN 'units' THEN 1 ELSE 2 END), 0) FROM "
              "sqlite_master WHERE type = 'table' AND name IN ('units', 'schema_version')"
            : "SELECT CAST(to_regclass('units') IS NOT NULL AS INTEGER) + "
              "2 * CAST(to_regclass('schema_version') IS NOT NULL AS INTEGER)";
    if (!db.Exec(strTables, {}, &rows, strError)) {
        return false;
    }
    const int64_t nTables = rows.empty() ? 0 : Integer(rows[0][0]);
    rows.clear();
    if ((nTables & 2) != 0 &&
        !db.Exec("SELECT max(version) FROM schema_version", {}, &rows, strError)) {
        return false;
    }
    m_nVersion = !rows.empty() ? Integer(rows[0][0]) : 0;
    if (m_nVersion > kSchemaVersion) {
        strError = m_strName + " has records of schema version " + std::to_string(m_nVersion) +
                   ", newer than this program's " + std::to_string(kSchemaVersion) +
                   "; use a newer fwupgrader with it";
        return false;
    }
    if (nTables != 3) {
        strError = m_strName +
                   " holds no unit records of fwupgrader (it lacks the tables units and "
                   "schema_version); name a store that --record, records import or records sync "
                   "wrote";
        return false;
    }
    m_bPrepared = true;
    return true;
}

bool CRecordDb::PutRecord(const UnitRecord& r, PutNote& note, std::string& strError) {
    note = PutNote{};
    if (!Prepare(strError)) {
        return false;
    }
    static const std::string strInsert = [] {
        int nParameter = 0;
        return "INSERT INTO units (" +
               ColumnList([](const UnitRecordField& field) { return field.pszColumn; }) +
               ") VALUES (" + ColumnList([&](const UnitRecordField&) {
                   // Appended rather than "$" + ...: GCC 12 for mingw warns falsely
                   // (-Wrestrict) about the literal-plus-temporary form at -O3.
                   std::string strParameter(1, '$');
                   return strParameter.append(std::to_string(++nParameter));
               }) +
               ") ON CONFLICT (" + KeyField().pszColumn + ") DO NOTHING";
    }();
    std::vector<SqlValue> params;
    params.reserve(Columns().size());
    for (const UnitRecordField* pField : Columns()) {
        params.push_back(ColumnValue(r, *pField));
    }
    // A single statement is its own transaction in both databases.
    if (!m_pConnection->Exec(strInsert, params, nullptr, strError)) {
        note.bRecordRefused = m_pConnection->RefusedValues();
        return false;
    }
    note.bAdded = m_pConnection->ChangedRows() > 0;
    if (m_pConnection->Dialect() == SqlDialect::Postgres && m_nPutsToFold-- <= 0) {
        // The record is stored: a fold that fails waits for the next one.
        std::string strIgnored;
        std::vector<SqlRow> rows;
        if (m_pConnection->Exec("SELECT " + OwnShard(), {}, &rows, strIgnored) && !rows.empty() &&
            rows[0][0]) {
            FoldShard(static_cast<int>(Integer(rows[0][0])), strIgnored);
        }
        m_nPutsToFold = kFoldEvery - 1;
    }
    return true;
}

bool CRecordDb::FoldShard(int nShard, std::string& strError) {
    if (!Prepare(strError) || m_pConnection->Dialect() != SqlDialect::Postgres) {
        return m_bPrepared;
    }
    // Each table's rows are locked in key order, as the trigger's writers take
    // them (tables in the trigger's order, groups ascending), so a writer that
    // shares the shard never deadlocks with the fold; a row it changed meanwhile
    // is left for the next fold. Only folds write shard 0: one at a time.
    struct CountTable {
        const char* pszTable;
        const char* pszKey;
        std::vector<std::string> counts;
    };
    static const std::vector<std::string> folds = [] {
        const CountTable tables[] = {
            {"units_yield", "grp, k", {"serials", "first_passed", "last_passed"}},
            {"units_seconds", "grp, k, tenths", {"n", "passed"}},
            {"units_apart", "grp, k", {"stopped", "current", "no_serial"}},
            {"units_hours", "hour", {"n"}},
            {"units_causes", "cause", {"n"}}};
        std::vector<std::string> sql;
        for (const CountTable& table : tables) {
            const std::string strTable = table.pszTable, strKey = table.pszKey;
            std::string strCounts, strSums, strAdd;
            for (const std::string& strCount : table.counts) {
                const std::string strComma = strCounts.empty() ? "" : ", ";
                strCounts += strComma + strCount;
                strSums += ", sum(" + strCount + ")";
                strAdd += strComma + strCount + " = " + strTable + "." + strCount + " + excluded." +
                          strCount;
            }
            // The rows locked in order, then exactly those moved into shard 0.
            const std::string strLocked = "SELECT ctid AS c FROM " + strTable +
                                          " WHERE shard = $1 ORDER BY " + strKey + " FOR UPDATE";
            const std::string strMoved =
                "DELETE FROM " + strTable + " t USING locked WHERE t.ctid = locked.c RETURNING t.*";
            sql.push_back("WITH locked AS MATERIALIZED (" + strLocked + "), moved AS (" + strMoved +
                          ") INSERT INTO " + strTable + " (" + strKey + ", shard, " + strCounts +
                          ") SELECT " + strKey + ", 0" + strSums + " FROM moved GROUP BY " +
                          strKey + " ON CONFLICT (" + strKey + ", shard) DO UPDATE SET " + strAdd);
        }
        return sql;
    }();
    bool bOk = m_pConnection->Exec("BEGIN", {}, nullptr, strError) &&
               m_pConnection->Exec("SELECT pg_advisory_xact_lock(20201210)", {}, nullptr, strError);
    for (const std::string& strSql : folds) {
        bOk = bOk && m_pConnection->Exec(strSql, {std::to_string(nShard)}, nullptr, strError);
    }
    if (!bOk || !m_pConnection->Exec("COMMIT", {}, nullptr, strError)) {
        std::string strIgnored;
        m_pConnection->Exec("ROLLBACK", {}, nullptr, strIgnored);
        return false;
    }
    return true;
}

bool CRecordDb::List(const RecordFilter& filter, std::vector<UnitRecord>& records,
                     std::string& strError) {
    if (!Prepare(strError)) {
        return false;
    }
    std::string strWhere;
    std::vector<SqlValue> params;
    const auto condition = [&](const std::string& strTest, const std::optional<std::string>& opt) {
        if (opt) {
            params.push_back(SqlText(*opt));
            strWhere += (strWhere.empty() ? " WHERE " : " AND ") + strTest + " $" +
                        std::to_string(params.size());
        }
    };
    condition("serial =", filter.optSerial);
    condition("time >=", filter.optSince);
    condition("time <=", filter.optUntil);
    condition("station =", filter.optStation);
    condition("slot =", filter.optSlot);
    if (filter.optPassed) {
        strWhere +=
            (strWhere.empty() ? " WHERE " : " AND ") +
            std::string(*filter.optPassed
                            // Current readers (exit 0) and stopped ones are neither.
                            ? "exit_code = 0 AND coalesce(outcome, 'passed') = 'passed'"
                            : "exit_code <> 0 AND coalesce(outcome, CASE WHEN exit_code = 130 "
                              "THEN 'stopped' ELSE '' END) <> 'stopped'");
    }
    std::vector<SqlRow> rows;
    const std::string strSelect =
        "SELECT " + ColumnList([&](const UnitRecordField& field) {
            // A store read as it is (read-only) may predate a field: none there.
            return field.nSchemaVersion > m_nVersion ? std::string("NULL") : ColumnText(field);
        }) +
        " FROM units" + strWhere + " ORDER BY time, id";
    if (!m_pConnection->Exec(strSelect, params, &rows, strError)) {
        return false;
    }
    for (const SqlRow& row : rows) {
        UnitRecord r;
        for (size_t n = 0; n < Columns().size(); ++n) {
            SetFieldText(r, *Columns()[n], FromColumn(row[n], *Columns()[n]));
        }
        records.push_back(std::move(r));
    }
    return true;
}

bool CRecordDb::Summarize(RecordSummary& summary, std::string& strError) {
    return Aggregate(summary, nullptr, strError);
}

bool CRecordDb::Aggregate(RecordSummary& summary, ReportData* pReport, std::string& strError) {
    if (!Prepare(strError)) {
        return false;
    }
    if (m_nVersion < kAggregateVersion) {
        strError = m_strName + " has records of schema version " + std::to_string(m_nVersion) +
                   ", whose aggregates this program does not read: the next record written to "
                   "it (a run with --record, records import or records sync) brings them up to "
                   "date";
        return false;
    }
    const bool bSqlite = m_pConnection->Dialect() == SqlDialect::Sqlite;
    // Every figure from the aggregates the inserts keep: counted and passed
    // attempts per group, key and tenth of a second give the counts and the
    // nearest-rank percentiles (passed and failed apart); the yields and what
    // stays apart are stored as they are. Small tables: as many rows as keys
    // times duration bins, whatever the units.
    const std::string strRank = [] {
        std::string strColumns;
        for (const char* pszWhich : {"p", "f"}) {
            const std::string w = pszWhich;
            const std::string strCount = w == "p" ? "passed" : "(n - passed)";
            strColumns += ", CAST(sum(" + strCount +
                          ") OVER (PARTITION BY grp, k ORDER BY tenths ROWS UNBOUNDED PRECEDING) "
                          "AS BIGINT) AS " +
                          w + "below, CAST(sum(" + strCount +
                          ") OVER (PARTITION BY grp, k) AS BIGINT) AS " + w + "t";
        }
        return strColumns;
    }();
    const auto percentile = [](const char* pszWhich, int nPercent) {
        const std::string w = pszWhich;
        const std::string strCount = w == "p" ? "passed" : "(n - passed)";
        return "min(CASE WHEN " + strCount + " > 0 AND " + w + "below >= (" + w + "t * " +
               std::to_string(nPercent) + " + 99) / 100 THEN tenths END)";
    };
    const std::string strSql =
        "WITH c AS (SELECT grp, k, tenths, n, passed" + strRank +
        " FROM (SELECT grp, k, tenths, sum(n) AS n, sum(passed) AS passed FROM units_seconds "
        "GROUP BY grp, k, tenths) b), s AS (SELECT grp, k, sum(n) AS n, sum(passed) AS p, " +
        percentile("p", 50) + " AS p50, " + percentile("p", 95) + " AS p95, " +
        percentile("f", 50) +
        " AS f50 FROM c GROUP BY grp, k), keys AS (SELECT grp, k FROM s UNION SELECT grp, k "
        "FROM units_apart) "
        "SELECT keys.grp, keys.k, coalesce(s.n, 0), coalesce(s.p, 0), coalesce(y.serials, 0), "
        "coalesce(y.first_passed, 0), coalesce(y.last_passed, 0), coalesce(a.stopped, 0), "
        "coalesce(a.current, 0), coalesce(a.no_serial, 0), s.p50, s.p95, s.f50 FROM keys LEFT "
        "JOIN s ON s.grp = keys.grp AND s.k = keys.k LEFT JOIN (SELECT grp, k, sum(serials) AS "
        "serials, sum(first_passed) AS first_passed, sum(last_passed) AS last_passed FROM "
        "units_yield GROUP BY grp, k) y ON y.grp = keys.grp AND y.k = keys.k LEFT JOIN (SELECT "
        "grp, k, sum(stopped) AS stopped, sum(current) AS current, sum(no_serial) AS no_serial "
        "FROM units_apart GROUP BY grp, k) a ON a.grp = keys.grp AND a.k = keys.k" +
        // The report's histogram from the same counts (grouping 99: the bin as the
        // key, its attempts, the shortest and longest bin in the last two columns).
        std::string(pReport == nullptr
                        ? ""
                        : " UNION ALL SELECT 99, CAST(b AS TEXT), sum(n), 0, 0, 0, 0, 0, 0, 0, "
                          "min(lo), min(hi), NULL FROM (SELECT " +
                              std::string(bSqlite ? "CAST" : "floor") +
                              "((tenths - lo) / CASE WHEN hi > lo THEN (hi - lo) / " +
                              std::to_string(kHistogramBins) + ".0 ELSE 1.0 END" +
                              (bSqlite ? " AS INTEGER)" : ")::int") +
                              " AS b, n, lo, hi FROM units_seconds, (SELECT min(tenths) AS lo, "
                              "max(tenths) AS hi FROM units_seconds WHERE grp = 0) r WHERE grp "
                              "= 0) h GROUP BY b") +
        " ORDER BY 1, 2";
    std::vector<SqlRow> rows;
    if (!m_pConnection->Exec(strSql, {}, &rows, strError)) {
        return false;
    }
    summary = RecordSummary{};
    const auto seconds = [](const SqlValue& value) {
        return static_cast<double>(Integer(value)) / 10;
    };
    for (const SqlRow& row : rows) {
        SummaryRow s;
        s.strKey = BytesFromSqlText(row[1].value_or(""));
        s.nAttempts = Integer(row[2]);
        s.nPassed = Integer(row[3]);
        s.nSerials = Integer(row[4]);
        s.nFirstPassed = Integer(row[5]);
        s.nLastPassed = Integer(row[6]);
        s.nStopped = Integer(row[7]);
        s.nCurrent = Integer(row[8]);
        s.nNoSerial = Integer(row[9]);
        s.dMedianSeconds = seconds(row[10]);
        s.dP95Seconds = seconds(row[11]);
        s.dFailedMedianSeconds = seconds(row[12]);
        if (Integer(row[0]) == 99 && pReport != nullptr) {
            pReport->dHistogramFrom = s.dMedianSeconds;
            pReport->dHistogramStep = s.dP95Seconds > s.dMedianSeconds
                                          ? (s.dP95Seconds - s.dMedianSeconds) / kHistogramBins
                                          : 1.0;
            pReport->histogram.resize(kHistogramBins);
            // The longest duration falls on the last bin's far edge: counted in it.
            const int64_t nBin = std::clamp<int64_t>(Integer(row[1]), 0, kHistogramBins - 1);
            pReport->histogram[static_cast<size_t>(nBin)] += s.nAttempts;
            continue;
        }
        switch (Integer(row[0])) {
        case 0:
            summary.total = s;
            break;
        case 1:
            summary.byStation.push_back(s);
            break;
        case 2:
            summary.byImage.push_back(s);
            break;
        case 3:
            summary.byDay.push_back(s);
            break;
        default:
            summary.bySlot.push_back(s);
        }
    }
    return true;
}

bool CRecordDb::Report(ReportData& report, std::string& strError) {
    report = ReportData{};
    if (!Aggregate(report.summary, &report, strError)) {
        return false;
    }
    std::vector<SqlRow> rows;
    if (!m_pConnection->Exec("SELECT max(hour) FROM units_hours", {}, &rows, strError)) {
        return false;
    }
    if (rows.empty() || !rows[0][0]) {
        report.histogram.clear();
        return true; // no units: empty charts
    }
    report.histogram.resize(kHistogramBins);
    // Units per hour over the 48 hours up to the last unit's hour, gaps as zero.
    const int64_t nLastHour = EpochSeconds(*rows[0][0] + ":00:00Z");
    const int64_t nFirstHour = nLastHour - 47 * 3600;
    std::vector<SqlRow> hours;
    if (!m_pConnection->Exec("SELECT hour, sum(n) FROM units_hours WHERE hour >= $1 GROUP BY hour "
                             "ORDER BY hour",
                             {IsoUtcTime(static_cast<std::time_t>(nFirstHour)).substr(0, 13)},
                             &hours, strError)) {
        return false;
    }
    size_t nNext = 0;
    for (int64_t nHour = nFirstHour; nHour <= nLastHour; nHour += 3600) {
        const std::string strHour = IsoUtcTime(static_cast<std::time_t>(nHour)).substr(0, 13);
        int64_t nCount = 0;
        if (nNext < hours.size() && hours[nNext][0].value_or("") == strHour) {
            nCount = Integer(hours[nNext++][1]);
        }
        report.unitsPerHour.emplace_back(strHour, nCount);
    }
    std::vector<SqlRow> causes;
    if (!m_pConnection->Exec(
            "SELECT cause, sum(n) FROM units_causes GROUP BY cause ORDER BY 2 DESC, "
            "cause",
            {}, &causes, strError)) {
        return false;
    }
    for (size_t n = 0; n < causes.size(); ++n) {
        const int64_t nCount = Integer(causes[n][1]);
        if (n < static_cast<size_t>(kCausesShown)) {
            report.causes.emplace_back(BytesFromSqlText(causes[n][0].value_or("")), nCount);
        } else if (n == static_cast<size_t>(kCausesShown)) {
            report.causes.emplace_back("other causes", nCount);
        } else {
            report.causes.back().second += nCount;
        }
    }
    // The latest failing units, then each one's attempts through the serial's index.
    std::vector<SqlRow> failing;
    if (!m_pConnection->Exec("SELECT serial FROM units_last WHERE grp = 0 AND ok = 0 ORDER BY "
                             "time DESC, id DESC LIMIT " +
                                 std::to_string(kFailingUnitsShown),
                             {}, &failing, strError)) {
        return false;
    }
    for (const SqlRow& row : failing) {
        ReportData::UnitHistory history;
        history.strSerial = BytesFromSqlText(row[0].value_or(""));
        RecordFilter filter;
        filter.optSerial = history.strSerial;
        if (!List(filter, history.attempts, strError)) {
            return false;
        }
        report.failingUnits.push_back(std::move(history));
    }
    return true;
}

} // namespace fwup
