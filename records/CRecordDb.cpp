#include "records/CRecordDb.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace fwup {

namespace {

const char* const kColumns = "id, time, port, connector, serial, version, boot, file, size, "
                             "sha256, result, exit_code, seconds, station, slot, attempt";

int64_t Integer(const SqlValue& value) {
    return value ? std::strtoll(value->c_str(), nullptr, 10) : 0;
}

double Real(const SqlValue& value) {
    return value ? std::strtod(value->c_str(), nullptr) : 0.0;
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

CRecordDb::CRecordDb(std::unique_ptr<ISqlConnection> pConnection, std::string strName)
    : m_pConnection(std::move(pConnection)), m_strName(std::move(strName)) {}

std::string CRecordDb::TimeText() const {
    return m_pConnection->Dialect() == SqlDialect::Sqlite
               ? "time"
               : "to_char(time AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')";
}

std::string CRecordDb::TimePrefix(int nLength) const {
    return "substr(" + TimeText() + ", 1, " + std::to_string(nLength) + ")";
}

bool CRecordDb::Prepare(std::string& strError) {
    if (m_bPrepared) {
        return true;
    }
    ISqlConnection& db = *m_pConnection;
    const bool bSqlite = db.Dialect() == SqlDialect::Sqlite;
    const std::string strTime = bSqlite ? "TEXT" : "TIMESTAMPTZ";
    std::vector<SqlRow> rows;
    std::string strIgnored;
    // One creator at a time: two benches starting together must not both create.
    bool bOk =
        db.Exec(bSqlite ? "BEGIN IMMEDIATE" : "BEGIN", {}, nullptr, strError) &&
        (bSqlite || db.Exec("SELECT pg_advisory_xact_lock(20201208)", {}, nullptr, strError)) &&
        db.Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)", {}, nullptr,
                strError) &&
        db.Exec("SELECT max(version) FROM schema_version", {}, &rows, strError);
    if (bOk && !rows.empty() && rows[0][0] && Integer(rows[0][0]) > kSchemaVersion) {
        strError = m_strName + " has records of schema version " + *rows[0][0] +
                   ", newer than this program's " + std::to_string(kSchemaVersion) +
                   "; use a newer fwupgrader with it";
        bOk = false;
    } else if (bOk && (rows.empty() || !rows[0][0])) {
        bOk = db.Exec("CREATE TABLE IF NOT EXISTS units (id TEXT PRIMARY KEY, time " + strTime +
                          " NOT NULL, port TEXT NOT NULL, connector TEXT NOT NULL, serial TEXT, "
                          "version TEXT, boot TEXT, file TEXT NOT NULL, size BIGINT NOT NULL, "
                          "sha256 TEXT, result TEXT NOT NULL, exit_code INTEGER NOT NULL, "
                          "seconds DOUBLE PRECISION NOT NULL, station TEXT NOT NULL, "
                          "slot TEXT NOT NULL, attempt INTEGER NOT NULL)",
                      {}, nullptr, strError) &&
              db.Exec("CREATE INDEX IF NOT EXISTS units_serial ON units (serial)", {}, nullptr,
                      strError) &&
              db.Exec("CREATE INDEX IF NOT EXISTS units_time ON units (time)", {}, nullptr,
                      strError) &&
              db.Exec("INSERT INTO schema_version (version) VALUES ($1)",
                      {std::to_string(kSchemaVersion)}, nullptr, strError);
    }
    if (!bOk || !db.Exec("COMMIT", {}, nullptr, strError)) {
        db.Exec("ROLLBACK", {}, nullptr, strIgnored);
        return false;
    }
    m_bPrepared = true;
    return true;
}

bool CRecordDb::Put(const UnitRecord& r, std::string& strError) {
    if (!Prepare(strError)) {
        return false;
    }
    char szSeconds[32];
    std::snprintf(szSeconds, sizeof szSeconds, "%.3f", r.dSeconds);
    // A single statement is its own transaction in both databases.
    return m_pConnection->Exec(
        std::string("INSERT INTO units (") + kColumns +
            ") VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16) "
            "ON CONFLICT (id) DO NOTHING",
        {r.strId, r.strTime, r.strPort, r.strConnector, r.optSerial, r.optVersion, r.optBoot,
         r.strFile, std::to_string(r.nSize), r.optSha256, r.strResult, std::to_string(r.nExitCode),
         std::string(szSeconds), r.strStation, r.strSlot, std::to_string(r.nAttempt)},
        nullptr, strError);
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
            params.push_back(*opt);
            strWhere += (strWhere.empty() ? " WHERE " : " AND ") + strTest + " $" +
                        std::to_string(params.size());
        }
    };
    condition("serial =", filter.optSerial);
    condition("time >=", filter.optSince);
    condition("time <=", filter.optUntil);
    condition("station =", filter.optStation);
    if (filter.optPassed) {
        strWhere += (strWhere.empty() ? " WHERE " : " AND ") +
                    std::string(*filter.optPassed ? "exit_code = 0" : "exit_code <> 0");
    }
    std::vector<SqlRow> rows;
    if (!m_pConnection->Exec("SELECT id, " + TimeText() +
                                 ", port, connector, serial, version, boot, file, size, sha256, "
                                 "result, exit_code, seconds, station, slot, attempt FROM units" +
                                 strWhere + " ORDER BY time, id",
                             params, &rows, strError)) {
        return false;
    }
    for (const SqlRow& row : rows) {
        UnitRecord r;
        r.strId = row[0].value_or("");
        r.strTime = row[1].value_or("");
        r.strPort = row[2].value_or("");
        r.strConnector = row[3].value_or("");
        r.optSerial = row[4];
        r.optVersion = row[5];
        r.optBoot = row[6];
        r.strFile = row[7].value_or("");
        r.nSize = Integer(row[8]);
        r.optSha256 = row[9];
        r.strResult = row[10].value_or("");
        r.nExitCode = static_cast<int>(Integer(row[11]));
        r.dSeconds = Real(row[12]);
        r.strStation = row[13].value_or("");
        r.strSlot = row[14].value_or("");
        r.nAttempt = static_cast<int>(Integer(row[15]));
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
    const bool bSqlite = m_pConnection->Dialect() == SqlDialect::Sqlite;
    // Serials and ids compare byte by byte: far cheaper than a locale's collation,
    // and only equality and a fixed order among ties matter here.
    const std::string strC = bSqlite ? "" : " COLLATE \"C\"";
    // Whether the serial met this key before: its two previous attempts answer
    // at once; past them (rare) the index on serial does, and the scan stops at
    // the first earlier attempt with the key.
    const auto seenBefore = [&](const std::string& strKey, const std::string& strColumn) {
        return "CASE WHEN serial IS NULL THEN 0 WHEN rn = 1 THEN 1 WHEN " + strKey + " = " +
               strKey + "1 OR (rn >= 3 AND " + strKey + " = " + strKey +
               "2) THEN 0 WHEN rn <= 3 THEN 1 WHEN EXISTS (SELECT 1 FROM units p WHERE p.serial "
               "= e.serial AND " +
               strColumn + " = e." + strKey + " AND (p.time, p.attempt, p.id" + strC +
               ") < (e.time, e.attempt, e.id" + strC + ")) THEN 0 ELSE 1 END";
    };
    // One sort of the rows by serial and attempt order gives each row four flags:
    // the first attempt of its serial overall, at its station, with its image and
    // on its day (ties in time and attempt go by id). One pass then counts the
    // rows by station, image, day and duration; every grouping and its
    // nearest-rank percentiles come from those counts, never from the rows again.
    const std::string strSql =
        "WITH e AS (SELECT station, img, day, seconds, ok, serial, time, attempt, id, "
        "row_number() OVER w AS rn, lag(station) OVER w AS station1, lag(station, 2) OVER w "
        "AS station2, lag(img) OVER w AS img1, lag(img, 2) OVER w AS img2, lag(day) OVER w AS "
        "day1 FROM (SELECT station, coalesce(sha256, '') AS img, " +
        std::string(bSqlite ? "substr(time, 1, 10)" : "(time AT TIME ZONE 'UTC')::date") +
        " AS day, seconds, CASE WHEN exit_code = 0 THEN 1 ELSE 0 END AS ok, serial, time, "
        "attempt, id FROM units) u WINDOW w AS (PARTITION BY serial" +
        strC + " ORDER BY time, attempt, id" + strC +
        ")), "
        "x AS (SELECT station, img, day, seconds, ok, "
        "CASE WHEN serial IS NOT NULL AND rn = 1 THEN 1 ELSE 0 END AS fa, " +
        seenBefore("station", "p.station") + " AS fs, " +
        seenBefore("img", "coalesce(p.sha256, '')") +
        " AS fi, CASE WHEN serial IS NOT NULL AND (rn = 1 OR day <> day1) THEN 1 ELSE 0 END AS "
        "fd FROM e), "
        "f AS MATERIALIZED (SELECT station, img, day, seconds, count(*) AS n, sum(ok) AS p, "
        "sum(fa) AS fa, sum(fa * ok) AS fap, sum(fs) AS fs, sum(fs * ok) AS fsp, sum(fi) AS fi, "
        "sum(fi * ok) AS fip, sum(fd) AS fd, sum(fd * ok) AS fdp FROM x "
        "GROUP BY station, img, day, seconds), "
        "g AS (SELECT 0 AS g, '' AS k, seconds, n, p, fa AS f, fap AS fp FROM f "
        "UNION ALL SELECT 1, station, seconds, n, p, fs, fsp FROM f "
        "UNION ALL SELECT 2, img, seconds, n, p, fi, fip FROM f UNION ALL SELECT 3, " +
        std::string(bSqlite ? "day" : "to_char(day, 'YYYY-MM-DD')") +
        ", seconds, n, p, fd, fdp FROM f), "
        "h AS (SELECT g, k, seconds, CAST(sum(n) AS BIGINT) AS n, CAST(sum(p) AS BIGINT) AS p, "
        "CAST(sum(f) AS BIGINT) AS f, CAST(sum(fp) AS BIGINT) AS fp FROM g GROUP BY g, k, "
        "seconds), "
        "c AS (SELECT g, k, seconds, n, p, f, fp, CAST(sum(n) OVER (PARTITION BY g, k ORDER BY "
        "seconds ROWS UNBOUNDED PRECEDING) AS BIGINT) AS below, CAST(sum(n) OVER (PARTITION BY "
        "g, k) AS BIGINT) AS t FROM h) "
        "SELECT g, k, sum(n), sum(p), sum(f), sum(fp), "
        "min(CASE WHEN below >= (t * 50 + 99) / 100 THEN seconds END), "
        "min(CASE WHEN below >= (t * 95 + 99) / 100 THEN seconds END) "
        "FROM c GROUP BY g, k" +
        // The report's histogram from the same counts (grouping 4: the bin as the
        // key, its units, the shortest and longest duration in the last two columns).
        std::string(pReport == nullptr
                        ? ""
                        : " UNION ALL SELECT 4, CAST(b AS TEXT), sum(n), 0, 0, 0, min(lo), "
                          "min(hi) FROM (SELECT " +
                              std::string(bSqlite ? "CAST" : "floor") +
                              "((seconds - lo) / CASE WHEN hi > lo THEN (hi - lo) / " +
                              std::to_string(kHistogramBins) + " ELSE 1.0 END" +
                              (bSqlite ? " AS INTEGER)" : ")::int") +
                              " AS b, n, lo, hi FROM f, (SELECT min(seconds) AS lo, "
                              "max(seconds) AS hi FROM f) r) h GROUP BY b") +
        " ORDER BY 1, 2";
    std::vector<SqlRow> rows;
    std::string strIgnored;
    // The sorts and counts fit in memory at a million rows and more; SQLite's
    // sorter spills to files past its page cache, PostgreSQL's past work_mem.
    // PostgreSQL guesses the counts' groups as many as the rows and would sort
    // them all; there are only as many as stations, images, days and durations,
    // so it is told to count them in a hash table (the window still sorts).
    const bool bOk =
        bSqlite ? m_pConnection->Exec("PRAGMA cache_size = -262144", {}, nullptr, strError) &&
                      m_pConnection->Exec("PRAGMA temp_store = MEMORY", {}, nullptr, strError) &&
                      m_pConnection->Exec(strSql, {}, &rows, strError)
                : m_pConnection->Exec("BEGIN READ ONLY", {}, nullptr, strError) &&
                      m_pConnection->Exec("SET LOCAL work_mem = '128MB'", {}, nullptr, strError) &&
                      m_pConnection->Exec("SET LOCAL enable_sort = off", {}, nullptr, strError) &&
                      m_pConnection->Exec(strSql, {}, &rows, strError) &&
                      m_pConnection->Exec("COMMIT", {}, nullptr, strError);
    if (!bOk) {
        if (!bSqlite) {
            m_pConnection->Exec("ROLLBACK", {}, nullptr, strIgnored);
        }
        return false;
    }
    summary = RecordSummary{};
    for (const SqlRow& row : rows) {
        SummaryRow s;
        s.strKey = row[1].value_or("");
        s.nUnits = Integer(row[2]);
        s.nPassed = Integer(row[3]);
        s.nSerials = Integer(row[4]);
        s.nFirstPassed = Integer(row[5]);
        s.dMedianSeconds = Real(row[6]);
        s.dP95Seconds = Real(row[7]);
        if (Integer(row[0]) == 4 && pReport != nullptr) {
            pReport->dHistogramFrom = s.dMedianSeconds;
            pReport->dHistogramStep = s.dP95Seconds > s.dMedianSeconds
                                          ? (s.dP95Seconds - s.dMedianSeconds) / kHistogramBins
                                          : 1.0;
            pReport->histogram.resize(kHistogramBins);
            // The longest duration falls on the last bin's far edge: counted in it.
            const int64_t nBin = std::clamp<int64_t>(Integer(row[1]), 0, kHistogramBins - 1);
            pReport->histogram[static_cast<size_t>(nBin)] += s.nUnits;
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
        default:
            summary.byDay.push_back(s);
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
    // max() alone is read off the index on time; formatted once.
    if (!m_pConnection->Exec("SELECT " + TimeText() +
                                 " FROM (SELECT max(time) AS time FROM units) m",
                             {}, &rows, strError)) {
        return false;
    }
    if (rows.empty() || !rows[0][0]) {
        report.histogram.clear();
        return true; // no units: empty charts
    }
    report.histogram.resize(kHistogramBins);
    // Units per hour over the 48 hours up to the last unit's hour, gaps as zero.
    const int64_t nLastHour = EpochSeconds(*rows[0][0]) / 3600 * 3600;
    const int64_t nFirstHour = nLastHour - 47 * 3600;
    std::vector<SqlRow> hours;
    if (!m_pConnection->Exec(
            "SELECT " + TimePrefix(13) + ", count(*) FROM units WHERE time >= $1 " +
                "GROUP BY 1 ORDER BY 1",
            {IsoUtcTime(static_cast<std::time_t>(nFirstHour))}, &hours, strError)) {
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
    return true;
}

} // namespace fwup
