#include "records/CSqliteConnection.h"

#include "records/RecordPlatform.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace fwup {

namespace {

// SQLite numbers its parameters ?1, ?2; the shared statements say $1, $2.
std::string SqliteParameters(const std::string& strSql) {
    std::string strOut = strSql;
    for (size_t n = 0; n + 1 < strOut.size(); ++n) {
        if (strOut[n] == '$' && strOut[n + 1] >= '0' && strOut[n + 1] <= '9') {
            strOut[n] = '?';
        }
    }
    return strOut;
}

} // namespace

CSqliteConnection::~CSqliteConnection() {
    Close();
}

void CSqliteConnection::Close() {
    for (auto& [strSql, pStatement] : m_statements) {
        sqlite3_finalize(pStatement);
    }
    m_statements.clear();
    if (m_pDb != nullptr) {
        sqlite3_close(m_pDb);
        m_pDb = nullptr;
    }
}

bool CSqliteConnection::Open(const std::string& strPath, std::string& strError, bool bReadOnly) {
    Close();
    if (!CheckDatabasePath(strPath, strError)) { // a FIFO would hang SQLite's first read
        return false;
    }
    if (bReadOnly) {
        if (sqlite3_open_v2(strPath.c_str(), &m_pDb, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            strError = "cannot open " + strPath + ": " +
                       (m_pDb != nullptr ? sqlite3_errmsg(m_pDb) : "out of memory");
            Close();
            return false;
        }
        sqlite3_busy_timeout(m_pDb, kBusyTimeoutMs);
        return true;
    }
    // Several writers opening a new file at once race to switch it to WAL: the
    // losers see "locked" or an I/O error and try again with a fresh handle,
    // within the busy time-out.
    const auto tpGiveUp =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    for (int nTry = 1;; ++nTry) {
        if (sqlite3_open_v2(strPath.c_str(), &m_pDb,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            strError = "cannot open " + strPath + ": " +
                       (m_pDb != nullptr ? sqlite3_errmsg(m_pDb) : "out of memory");
            Close();
            return false;
        }
        sqlite3_busy_timeout(m_pDb, kBusyTimeoutMs);
        std::vector<SqlRow> rows;
        // FULL: a record is on the disk when its transaction has committed.
        if (Exec("PRAGMA journal_mode=WAL", {}, &rows, strError) && !rows.empty() &&
            rows[0][0].value_or("") == "wal" &&
            Exec("PRAGMA synchronous=FULL", {}, nullptr, strError)) {
            return true;
        }
        const int nCode = sqlite3_errcode(m_pDb) & 0xff;
        Close();
        if ((nCode != SQLITE_BUSY && nCode != SQLITE_LOCKED && nCode != SQLITE_IOERR) ||
            std::chrono::steady_clock::now() >= tpGiveUp) {
            strError = strPath + ": " + (strError.empty() ? "not in WAL mode" : strError);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5 * std::min(nTry, 20)));
    }
}

bool CSqliteConnection::Exec(const std::string& strSql, const std::vector<SqlValue>& params,
                             std::vector<SqlRow>* pRows, std::string& strError) {
    m_nChangedRows = 0;
    m_bRefusedValues = false;
    if (m_pDb == nullptr) {
        strError = "the database is not open";
        return false;
    }
    sqlite3_stmt*& pStatement = m_statements[strSql];
    if (pStatement == nullptr && sqlite3_prepare_v2(m_pDb, SqliteParameters(strSql).c_str(), -1,
                                                    &pStatement, nullptr) != SQLITE_OK) {
        strError = sqlite3_errmsg(m_pDb);
        m_statements.erase(strSql);
        return false;
    }
    sqlite3_reset(pStatement);
    sqlite3_clear_bindings(pStatement);
    for (size_t i = 0; i < params.size(); ++i) {
        const int nIndex = static_cast<int>(i + 1);
        if (params[i]) {
            sqlite3_bind_text(pStatement, nIndex, params[i]->data(),
                              static_cast<int>(params[i]->size()), SQLITE_TRANSIENT);
        } else {
            sqlite3_bind_null(pStatement, nIndex);
        }
    }
    int nStep = SQLITE_ROW;
    while ((nStep = sqlite3_step(pStatement)) == SQLITE_ROW) {
        if (pRows == nullptr) {
            continue;
        }
        SqlRow row;
        const int nColumns = sqlite3_column_count(pStatement);
        for (int c = 0; c < nColumns; ++c) {
            const unsigned char* pText = sqlite3_column_text(pStatement, c);
            row.push_back(pText != nullptr
                              ? SqlValue(std::string(reinterpret_cast<const char*>(pText),
                                                     sqlite3_column_bytes(pStatement, c)))
                              : std::nullopt);
        }
        pRows->push_back(std::move(row));
    }
    const bool bDone = nStep == SQLITE_DONE;
    if (!bDone) {
        strError = sqlite3_errmsg(m_pDb);
        const int nCode = sqlite3_errcode(m_pDb) & 0xff;
        m_bRefusedValues =
            nCode == SQLITE_CONSTRAINT || nCode == SQLITE_TOOBIG || nCode == SQLITE_MISMATCH;
    } else {
        m_nChangedRows = sqlite3_changes(m_pDb);
    }
    sqlite3_reset(pStatement); // ends the statement's read of the file
    return bDone;
}

} // namespace fwup
