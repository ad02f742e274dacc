// libpq's asynchronous calls, waited on with poll() against one deadline: its
// blocking calls have no time limit of their own once connected, and its
// connect_timeout counts per host and attempt (SSL, then plain).
#include "records/CPgConnection.h"

#include "records/RecordBackends.h"
#include "records/RecordPlatform.h"
#include "records/RecordStoreText.h"

#include <libpq-fe.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace fwup {

namespace {

using Clock = std::chrono::steady_clock;

std::string Trimmed(const char* pszText) {
    std::string strText = pszText != nullptr ? pszText : "";
    while (!strText.empty() && (strText.back() == '\n' || strText.back() == ' ')) {
        strText.pop_back();
    }
    return strText.empty() ? "unknown error" : strText;
}

void IgnoreNotice(void*, const char*) {} // "already exists, skipping" is no news

// Waits until the socket can be read (or written) or the deadline passes; false
// then. An error or hang-up on the socket counts as ready: libpq reports it.
bool WaitSocket(int fd, bool bWrite, Clock::time_point tpDeadline) {
    for (;;) {
        const auto nLeftMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(tpDeadline - Clock::now())
                .count();
        if (nLeftMs <= 0) {
            return false;
        }
        if (PollSocket(fd, bWrite, static_cast<int>(std::min<long long>(nLeftMs, INT_MAX))) > 0) {
            return true;
        }
    }
}

std::string Seconds(std::chrono::milliseconds duration) {
    char szText[32];
    std::snprintf(szText, sizeof szText, "%g s", static_cast<double>(duration.count()) / 1000);
    return szText;
}

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

std::string CPgConnection::TimedOut() const {
    return "the database did not answer within " + Seconds(m_deadline) + " (the store's deadline)";
}

std::string CPgConnection::Scrubbed(const char* pszMessage) const {
    return ScrubbedStoreMessage(Trimmed(pszMessage), m_strConnInfo);
}

bool CPgConnection::Connect(TimePoint tpDeadline, std::string& strError) {
    if (m_pConn != nullptr && PQstatus(m_pConn) == CONNECTION_OK) {
        return true;
    }
    Drop();
    std::vector<std::string> secrets;
    std::string strWhy;
    if (!ParseStoreSecrets(m_strConnInfo, secrets, strWhy)) {
        strError = "the connection string " + MaskedStore(m_strConnInfo) +
                   " does not parse: " + Scrubbed(strWhy.c_str());
        return false;
    }
    // Later entries win over what the connection string says, so the time-outs
    // stay bounded. connect_timeout binds only libpq's blocking connect, per host
    // and attempt; the loop below holds the deadline over all of them together.
    // Keepalives notice a peer that went away while the connection idles between
    // records, within about half the deadline; tcp_user_timeout one that stops
    // acknowledging what we send.
    const long long nDeadlineMs = m_deadline.count();
    const std::string strConnect = std::to_string(std::max(2LL, (nDeadlineMs + 999) / 1000));
    const std::string strTcp = std::to_string(nDeadlineMs);
    const std::string strIdle = std::to_string(std::max(1LL, nDeadlineMs / 4000));
    const std::string strInterval = std::to_string(std::max(1LL, nDeadlineMs / 10000));
    const char* const keys[] = {"fallback_application_name", "dbname",           "connect_timeout",
                                "tcp_user_timeout",          "keepalives",       "keepalives_idle",
                                "keepalives_interval",       "keepalives_count", nullptr};
    const char* const values[] = {
        "fwupgrader", m_strConnInfo.c_str(), strConnect.c_str(),  strTcp.c_str(),
        "1",          strIdle.c_str(),       strInterval.c_str(), "2",
        nullptr};
    m_pConn = PQconnectStartParams(keys, values, 1);
    if (m_pConn == nullptr) {
        strError = "out of memory";
        return false;
    }
    // libpq's connect loop: poll as though writing first, then as it asks.
    PostgresPollingStatusType eState = PGRES_POLLING_WRITING;
    while (eState != PGRES_POLLING_OK) {
        if (eState == PGRES_POLLING_FAILED || PQstatus(m_pConn) == CONNECTION_BAD) {
            strError = Scrubbed(PQerrorMessage(m_pConn));
            Drop();
            return false;
        }
        const int fd = PQsocket(m_pConn);
        if (fd >= 0 && !WaitSocket(fd, eState == PGRES_POLLING_WRITING, tpDeadline)) {
            Drop();
            strError = TimedOut();
            return false;
        }
        eState = PQconnectPoll(m_pConn);
    }
    PQsetNoticeProcessor(m_pConn, IgnoreNotice, nullptr);
    PQsetnonblocking(m_pConn, 1);
    // The server ends a lock wait at half the deadline and a statement at three
    // quarters, keeping the connection; past the deadline we drop it ourselves.
    const std::string strSet = "SET lock_timeout = " + std::to_string(nDeadlineMs / 2) +
                               "; SET statement_timeout = " + std::to_string(nDeadlineMs * 3 / 4) +
                               (m_bReadOnly ? "; SET default_transaction_read_only = on" : "");
    PGresult* pRaw = nullptr;
    if (PQsendQuery(m_pConn, strSet.c_str()) == 0) {
        strError = Scrubbed(PQerrorMessage(m_pConn));
        Drop();
        return false;
    }
    if (!Await(tpDeadline, pRaw, strError)) {
        return false;
    }
    const std::unique_ptr<PGresult, void (*)(PGresult*)> pResult(pRaw, PQclear);
    if (PQresultStatus(pResult.get()) != PGRES_COMMAND_OK) {
        strError = Scrubbed(PQresultErrorMessage(pResult.get()));
        Drop();
        return false;
    }
    return true;
}

bool CPgConnection::Await(TimePoint tpDeadline, PGresult*& pResult, std::string& strError) {
    pResult = nullptr;
    const auto fail = [&](std::string strWhy) {
        PQclear(pResult);
        pResult = nullptr;
        Drop(); // the next call connects again
        strError = std::move(strWhy);
        return false;
    };
    int nFlush = 0;
    while ((nFlush = PQflush(m_pConn)) == 1) {
        if (!WaitSocket(PQsocket(m_pConn), true, tpDeadline)) {
            return fail(TimedOut());
        }
    }
    if (nFlush < 0) {
        return fail(Scrubbed(PQerrorMessage(m_pConn)));
    }
    for (;;) {
        while (PQisBusy(m_pConn) != 0) {
            if (!WaitSocket(PQsocket(m_pConn), false, tpDeadline)) {
                return fail(TimedOut());
            }
            if (PQconsumeInput(m_pConn) == 0) {
                return fail(Scrubbed(PQerrorMessage(m_pConn)));
            }
        }
        PGresult* pNext = PQgetResult(m_pConn);
        if (pNext == nullptr) {
            break;
        }
        const bool bFailed = pResult != nullptr && PQresultStatus(pResult) != PGRES_COMMAND_OK &&
                             PQresultStatus(pResult) != PGRES_TUPLES_OK;
        if (bFailed) {
            PQclear(pNext); // the first failure tells why
        } else {
            PQclear(pResult);
            pResult = pNext;
        }
    }
    if (pResult == nullptr) {
        return fail(Scrubbed(PQerrorMessage(m_pConn)));
    }
    return true;
}

bool CPgConnection::Exec(const std::string& strSql, const std::vector<SqlValue>& params,
                         std::vector<SqlRow>* pRows, std::string& strError) {
    if (m_pConn == nullptr && strSql == "ROLLBACK") {
        return true; // the server ended the transaction with its connection
    }
    m_nChangedRows = 0;
    m_bRefusedValues = false;
    const TimePoint tpDeadline = Clock::now() + m_deadline;
    if (!Connect(tpDeadline, strError)) {
        return false;
    }
    std::vector<const char*> values;
    for (const SqlValue& value : params) {
        values.push_back(value ? value->c_str() : nullptr);
    }
    PGresult* pRaw = nullptr;
    if (PQsendQueryParams(m_pConn, strSql.c_str(), static_cast<int>(values.size()), nullptr,
                          values.data(), nullptr, nullptr, 0) == 0) {
        strError = Scrubbed(PQerrorMessage(m_pConn));
        Drop();
        return false;
    }
    if (!Await(tpDeadline, pRaw, strError)) {
        return false;
    }
    const std::unique_ptr<PGresult, void (*)(PGresult*)> pResult(pRaw, PQclear);
    const ExecStatusType eStatus = PQresultStatus(pResult.get());
    if (eStatus != PGRES_COMMAND_OK && eStatus != PGRES_TUPLES_OK) {
        strError = Scrubbed(PQresultErrorMessage(pResult.get()));
        // SQLSTATE classes 22 (data exception), 23 (constraint) and 54 (a
        // limit, such as a too long value): this statement's values, not the server.
        const char* pszState = PQresultErrorField(pResult.get(), PG_DIAG_SQLSTATE);
        const std::string strClass = pszState != nullptr ? std::string(pszState).substr(0, 2) : "";
        m_bRefusedValues = PQstatus(m_pConn) == CONNECTION_OK &&
                           (strClass == "22" || strClass == "23" || strClass == "54");
        if (PQstatus(m_pConn) != CONNECTION_OK) {
            Drop(); // the next call connects again
        }
        return false;
    }
    m_nChangedRows = std::strtoll(PQcmdTuples(pResult.get()), nullptr, 10);
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
