#pragma once
// CSqliteConnection: a SQLite file in WAL mode with a busy time-out, so two
// processes and many threads (each with its own connection) can write it at once.

#include "records/ISqlConnection.h"

#include <map>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace fwup {

class CSqliteConnection : public ISqlConnection {
public:
    static constexpr int kBusyTimeoutMs = 10000; // another writer's transaction is far shorter

    CSqliteConnection() = default;
    ~CSqliteConnection() override; // finalizes the statements, closes the file
    CSqliteConnection(const CSqliteConnection&) = delete;
    CSqliteConnection& operator=(const CSqliteConnection&) = delete;

    // Opens (creating) strPath; refuses anything but a regular file. bReadOnly:
    // opens an existing file to read only, changing nothing in it (not even its
    // journal mode). False with strError.
    bool Open(const std::string& strPath, std::string& strError, bool bReadOnly = false);
    SqlDialect Dialect() const override { return SqlDialect::Sqlite; }
    bool Exec(const std::string& strSql, const std::vector<SqlValue>& params,
              std::vector<SqlRow>* pRows, std::string& strError) override;
    int64_t ChangedRows() const override { return m_nChangedRows; }
    bool RefusedValues() const override { return m_bRefusedValues; }

private:
    void Close();

    sqlite3* m_pDb = nullptr;
    std::map<std::string, sqlite3_stmt*> m_statements; // prepared once per text
    int64_t m_nChangedRows = 0;
    bool m_bRefusedValues = false;
};

} // namespace fwup
