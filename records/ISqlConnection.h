#pragma once
// One connection to a SQL database (SQLite or PostgreSQL), as the record stores
// use it: statements with bound parameters only, values as text.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fwup {

// The one setting that bounds a database server's answers: a connect (all its
// hosts and attempts), a statement and the lock waits within it end in this
// time, and a server that stopped answering is noticed within it. A record that
// misses it goes to the spool. SQLite files are local and wait on locks
// through their own busy time-out.
inline constexpr std::chrono::milliseconds kStoreDeadline{10000};

enum class SqlDialect { Sqlite, Postgres };
using SqlValue = std::optional<std::string>; // nullopt is SQL NULL
using SqlRow = std::vector<SqlValue>;

class ISqlConnection {
public:
    virtual ~ISqlConnection() = default;
    virtual SqlDialect Dialect() const = 0;
    // Runs one statement with $1, $2, ... bound to params (never spliced into the
    // text). Result rows are appended to pRows when given. False with strError
    // (no password in it); a lost connection is made again by the next call.
    // One thread at a time.
    virtual bool Exec(const std::string& strSql, const std::vector<SqlValue>& params,
                      std::vector<SqlRow>* pRows, std::string& strError) = 0;
    // The rows the last successful statement inserted, updated or deleted (an
    // insert skipped by ON CONFLICT DO NOTHING counts none).
    virtual int64_t ChangedRows() const = 0;
    // Whether the last failed statement was refused for the values it was given
    // (a value out of range, a constraint): the connection is fine.
    virtual bool RefusedValues() const = 0;
};

} // namespace fwup
