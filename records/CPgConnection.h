#pragma once
// CPgConnection: a PostgreSQL database through libpq. The connection string is a
// URI (postgresql://user@host/db) or key=value pairs; libpq takes the password
// from it, PGPASSWORD or ~/.pgpass, and TLS from sslmode. A connect gives up
// after kConnectTimeoutS, and a dead peer is noticed after kTcpUserTimeoutMs of
// unacknowledged data, so no call waits forever.

#include "records/ISqlConnection.h"

#include <string>

struct pg_conn;

namespace fwup {

class CPgConnection : public ISqlConnection {
public:
    static constexpr int kConnectTimeoutS = 5;
    static constexpr int kTcpUserTimeoutMs = 15000;

    explicit CPgConnection(std::string strConnInfo) : m_strConnInfo(std::move(strConnInfo)) {}
    ~CPgConnection() override; // closes the connection
    CPgConnection(const CPgConnection&) = delete;
    CPgConnection& operator=(const CPgConnection&) = delete;

    // Connects unless connected; false with strError. Exec connects by itself.
    bool Connect(std::string& strError);
    SqlDialect Dialect() const override { return SqlDialect::Postgres; }
    bool Exec(const std::string& strSql, const std::vector<SqlValue>& params,
              std::vector<SqlRow>* pRows, std::string& strError) override;

private:
    void Drop();

    std::string m_strConnInfo;
    pg_conn* m_pConn = nullptr;
};

} // namespace fwup
