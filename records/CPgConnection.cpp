#include "records/CPgConnection.h"

#include <libpq-fe.h>

#include <memory>

namespace fwup {

namespace {

std::string Trimmed(const char* pszText) {
    std::string strText = pszText != nullptr ? pszText : "";
    while (!strText.empty() && (strText.back() == '\n' || strText.back() == ' ')) {
        strText.pop_back();
    }
    return strText.empty() ? "unknown error" : strText;
}

void IgnoreNotice(void*, const char*) {} // "already exists, skipping" is no news

} // namespace

CPgConnection::~CPgConnection() {
    Drop();
}

void CPgConnection::Drop() {
    if (m_pConn != nullptr) {
        PQfinish(m_pConn);
        m_pConn = nullptr;
    }
}

bool CPgConnection::Connect(std::string& strError) {
    if (m_pConn != nullptr && PQstatus(m_pConn) == CONNECTION_OK) {
        return true;
    }
    Drop();
    // Later entries win over what the connection string says: the time-outs stay bounded.
    const std::string strConnect = std::to_string(kConnectTimeoutS);
    const std::string strTcp = std::to_string(kTcpUserTimeoutMs);
    const char* const keys[] = {"fallback_application_name", "dbname", "connect_timeout",
                                "tcp_user_timeout", nullptr};
    const char* const values[] = {"fwupgrader", m_strConnInfo.c_str(), strConnect.c_str(),
                                  strTcp.c_str(), nullptr};
    m_pConn = PQconnectdbParams(keys, values, 1);
    if (m_pConn == nullptr || PQstatus(m_pConn) != CONNECTION_OK) {
        strError = m_pConn != nullptr ? Trimmed(PQerrorMessage(m_pConn)) : "out of memory";
        Drop();
        return false;
    }
    PQsetNoticeProcessor(m_pConn, IgnoreNotice, nullptr);
    return true;
}

bool CPgConnection::Exec(const std::string& strSql, const std::vector<SqlValue>& params,
                         std::vector<SqlRow>* pRows, std::string& strError) {
    if (!Connect(strError)) {
        return false;
    }
    std::vector<const char*> values;
    for (const SqlValue& value : params) {
        values.push_back(value ? value->c_str() : nullptr);
    }
    const std::unique_ptr<PGresult, void (*)(PGresult*)> pResult(
        PQexecParams(m_pConn, strSql.c_str(), static_cast<int>(values.size()), nullptr,
                     values.data(), nullptr, nullptr, 0),
        PQclear);
    const ExecStatusType eStatus = pResult ? PQresultStatus(pResult.get()) : PGRES_FATAL_ERROR;
    if (eStatus != PGRES_COMMAND_OK && eStatus != PGRES_TUPLES_OK) {
        strError = Trimmed(pResult ? PQresultErrorMessage(pResult.get()) : PQerrorMessage(m_pConn));
        if (PQstatus(m_pConn) != CONNECTION_OK) {
            Drop(); // the next call connects again
        }
        return false;
    }
    if (pRows != nullptr) {
        const int nRows = PQntuples(pResult.get());
        const int nColumns = PQnfields(pResult.get());
        for (int r = 0; r < nRows; ++r) {
            SqlRow row;
            for (int c = 0; c < nColumns; ++c) {
                row.push_back(PQgetisnull(pResult.get(), r, c)
                                  ? std::nullopt
                                  : SqlValue(std::string(PQgetvalue(pResult.get(), r, c),
                                                         PQgetlength(pResult.get(), r, c))));
            }
            pRows->push_back(std::move(row));
        }
    }
    return true;
}

} // namespace fwup
