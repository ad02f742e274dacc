#pragma once
// CPgConnection: a PostgreSQL database through libpq. The connection string is a
// URI (postgresql://user@host/db) or key=value pairs; libpq takes the password
// from it, or else from PGPASSWORD, the password file (~/.pgpass) or a service
// (PGSERVICE, service=), and TLS from sslmode. Nothing waits longer than the
// deadline given (kStoreDeadline): the whole connect, every host and the SSL and
// plain attempts together; each statement, whose lock waits the server ends at
// half of it; and a server that stops answering (stopped, unplugged) is left, the
// connection dropped, when it runs out. Error texts never hold the password.

#include "records/ISqlConnection.h"

#include <chrono>
#include <string>

struct pg_conn;
struct pg_result;

namespace fwup {

class CPgConnection : public ISqlConnection {
public:
    // bReadOnly: every transaction of the session is read-only, so that nothing
    // can be created or changed through it.
    explicit CPgConnection(std::string strConnInfo,
                           std::chrono::milliseconds deadline = kStoreDeadline,
                           bool bReadOnly = false)
        : m_strConnInfo(std::move(strConnInfo)), m_deadline(deadline), m_bReadOnly(bReadOnly) {}
    ~CPgConnection() override; // closes the connection
    CPgConnection(const CPgConnection&) = delete;
    CPgConnection& operator=(const CPgConnection&) = delete;

    SqlDialect Dialect() const override { return SqlDialect::Postgres; }
    bool Exec(const std::string& strSql, const std::vector<SqlValue>& params,
              std::vector<SqlRow>* pRows, std::string& strError) override;
    int64_t ChangedRows() const override { return m_nChangedRows; }
    bool RefusedValues() const override { return m_bRefusedValues; }

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    // Connects unless connected (Exec's first step: the connect and the
    // statement share one deadline); false with strError.
    bool Connect(TimePoint tpDeadline, std::string& strError);
    // Sends what libpq holds and collects the statement's results until the
    // deadline; the last result (the first failed one) in pResult. False on a
    // time-out or a lost connection, with strError.
    bool Await(TimePoint tpDeadline, pg_result*& pResult, std::string& strError);
    std::string TimedOut() const;
    std::string Scrubbed(const char* pszMessage) const;
    void Drop();

    std::string m_strConnInfo;
    std::chrono::milliseconds m_deadline;
    bool m_bReadOnly = false;
    pg_conn* m_pConn = nullptr;
    int64_t m_nChangedRows = 0;
    bool m_bRefusedValues = false;
};

} // namespace fwup
