// Unit records: one record's insert (median and 95th percentile) into SQLite and
// into PostgreSQL on 127.0.0.1 (fsync on); 64 simulated readers flashed by
// `fwupgrader-cli auto --parallel` with a PostgreSQL store against JSON lines
// (wall ratio); `records summary` and `records report` over 1,000,000 rows in
// SQLite and in PostgreSQL (wall and CPU time, HTML size). Figures only.

#include "bench/BenchRoot.h"
#include "records/CRecordDb.h"
#include "records/RecordBackends.h"
#include "sim/CSimDevice.h"
#include "tests/support/CPgServer.h"
#include "tests/support/CTempRoot.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kInserts = 400;
constexpr int kReaders = 64;
constexpr int kRows = 1000000;

fwup::UnitRecord Sample(int n) {
    fwup::UnitRecord r;
    r.strTime = fwup::IsoUtcTime(1796000000 + n * 30);
    r.strPort = "AT91 USB to Serial Converter (COM" + std::to_string(1 + n % 8) + ")";
    r.strConnector = "1-" + std::to_string(1 + n % 8) + ":1.0";
    r.optSerial = "SN" + std::to_string(100000 + n);
    r.strFile = "fw.bin";
    r.nSize = 176128;
    r.optSha256 = std::string(64, 'a' + n % 3);
    r.strResult = n % 20 == 0 ? "check connection" : "FW Update Successful!";
    r.nExitCode = n % 20 == 0 ? 10 : 0;
    r.dSeconds = 20 + (n % 97) / 10.0;
    r.strId = fwup::NewRecordId();
    r.strStation = "bench-" + std::to_string(n % 12);
    r.strSlot = r.strConnector;
    return r;
}

void InsertLatency(const char* pszName, const std::string& strStore) {
    std::string strError;
    fwup::CRecordDb db(fwup::OpenSqlConnection(strStore, strError), pszName);
    std::vector<double> ms;
    for (int n = 0; n < kInserts; ++n) {
        const fwup::UnitRecord record = Sample(n);
        const auto tpStart = std::chrono::steady_clock::now();
        if (!db.Put(record, strError)) {
            std::printf("%s insert failed: %s\n", pszName, strError.c_str());
            return;
        }
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - tpStart)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-10s insert       : median %7.3f ms, p95 %7.3f ms (%d records, one "
                "transaction each)\n",
                pszName, ms[ms.size() / 2], ms[ms.size() * 95 / 100], kInserts);
}

double ReadersWall(const std::string& strBenchRoot, const char* pszRun, const std::string& strFile,
                   const std::string& strStore, int& nExit) {
    // Each run in a root of its own: no port of the other run is left in it.
    const std::string strRoot = strBenchRoot + "/" + pszRun;
    std::filesystem::create_directories(strRoot);
    setenv("FWUP_SYSROOT", strRoot.c_str(), 1);
    std::vector<std::unique_ptr<fwsim::CSimDevice>> devices;
    for (int i = 0; i < kReaders; ++i) {
        fwsim::SimDeviceConfig config;
        config.strRoot = strRoot;
        config.strUsbPath = "1-" + std::to_string(i + 1);
        config.strAppTty = config.strBootTty = "ttyACM" + std::to_string(i);
        config.strSerial = "SN" + std::to_string(5000 + i);
        config.dwAppRestartMs = config.dwBootRestartMs = 100;
        devices.push_back(std::make_unique<fwsim::CSimDevice>(config));
        if (!devices.back()->Start()) {
            return -1;
        }
    }
    const fwbench::ChildRun run =
        fwbench::RunProgram(FWUP_CLI_PATH,
                            {"auto", "--parallel", "--count", std::to_string(kReaders), "--file",
                             strFile, "--record", strStore},
                            strRoot + "/cli-output.txt");
    nExit = run.nExit;
    if (run.nExit != 0) {
        std::printf("%s: exit %d, last line: %s\n", pszRun, run.nExit, run.strLastLine.c_str());
    }
    return run.dSeconds;
}

// The database makes the rows itself: the figures are about reading them. They
// go into a store as schema version 1 had it (the units alone), which this
// program then upgrades, filling its aggregate tables once from the units: a
// million single-row transactions through the trigger would take hours here,
// and a bulk insert through it updates the same few aggregate rows over and
// over within one transaction (PostgreSQL cannot prune those versions until it
// ends). The insert figures above measure the trigger; the tests show both
// ways give the same figures.
// bSpread: 1,000 stations of 8 slots, 100 images and durations spread over 20 s
// in milliseconds, instead of 12 stations, 3 images and 97 durations.
void FillMillion(const std::string& strStore, bool bSqlite, bool bSpread) {
    // Filling and upgrading a million rows may take far longer than a unit's
    // record is allowed to wait (kStoreDeadline).
    constexpr std::chrono::minutes kFillDeadline{30};
    std::string strError;
    fwup::CRecordDb(fwup::OpenSqlConnection(strStore, strError, kFillDeadline), "db")
        .Prepare(strError);
    auto pOld = fwup::OpenSqlConnection(strStore, strError, kFillDeadline);
    for (const std::string& strSql :
         {std::string("DROP TRIGGER units_aggregate") + (bSqlite ? "" : " ON units"),
          std::string("DROP TABLE units_first"), std::string("DROP TABLE units_last"),
          std::string("DROP TABLE units_yield"), std::string("DROP TABLE units_seconds"),
          std::string("DROP TABLE units_apart"), std::string("DROP TABLE units_hours"),
          std::string("DROP TABLE units_causes"),
          std::string("ALTER TABLE units DROP COLUMN image_version"),
          std::string("ALTER TABLE units DROP COLUMN image_signer"),
          std::string("ALTER TABLE units DROP COLUMN version_after"),
          std::string("ALTER TABLE units DROP COLUMN verified"),
          std::string("ALTER TABLE units DROP COLUMN cause"),
          std::string("ALTER TABLE units DROP COLUMN outcome"),
          std::string("DELETE FROM schema_version WHERE version > 1")}) {
        if (!pOld || !pOld->Exec(strSql, {}, nullptr, strError)) {
            std::printf("making an old store failed: %s\n", strError.c_str());
            return;
        }
    }
    std::string strSql =
        bSqlite
            ? "WITH RECURSIVE g(n) AS (SELECT $1 + 0 UNION ALL SELECT n + 1 FROM g WHERE n < $2 + "
              "0) "
              "INSERT INTO units SELECT printf('%08x-0000-4000-8000-%012x', n, n), "
              "strftime('%Y-%m-%dT%H:%M:%SZ', '2026-11-01', '+' || (n * 3) || ' seconds'), "
              "'P (COM' || (n % 8 + 1) || ')', '1-1:1.0', 'SN' || (n % 700000), NULL, NULL, "
              "'fw.bin', 176128, printf('%064d', n % {I}), CASE WHEN n % 20 = 0 THEN 'check "
              "connection' ELSE 'ok' END, CASE WHEN n % 20 = 0 THEN 10 ELSE 0 END, "
              "{D}, 'bench-' || (n % {S}), {L}, 1 FROM g"
            : "INSERT INTO units SELECT md5(g::text)::uuid::text, timestamptz '2026-11-01' + g * "
              "interval '3 seconds', 'P (COM' || (g % 8 + 1) || ')', '1-1:1.0', 'SN' || (g % "
              "700000), NULL, NULL, 'fw.bin', 176128, lpad((g % {I})::text, 64, '0'), CASE WHEN "
              "g % 20 = 0 THEN 'check connection' ELSE 'ok' END, CASE WHEN g % 20 = 0 THEN 10 "
              "ELSE 0 END, {D}, 'bench-' || (g % {S}), {L}, 1 FROM "
              "generate_series($1::int, $2::int) g";
    const std::string strN = bSqlite ? "n" : "g";
    const std::pair<std::string, std::string> spread[] = {
        {"{D}",
         bSpread ? "20 + (" + strN + " % 20011) / 1000.0" : "20 + (" + strN + " % 97) / 10.0"},
        {"{S}", bSpread ? "1000" : "12"},
        {"{I}", bSpread ? "100" : "3"},
        {"{L}", bSpread ? "'Slot ' || (" + strN + " / 1000 % 8)" : "'1-1:1.0'"}};
    for (const auto& [strMark, strText] : spread) {
        for (size_t nAt = strSql.find(strMark); nAt != std::string::npos;
             nAt = strSql.find(strMark, nAt)) {
            strSql.replace(nAt, strMark.size(), strText);
        }
    }
    auto pConnection = fwup::OpenSqlConnection(strStore, strError, kFillDeadline);
    // In slices of 50,000 rows: one transaction of a million would spill SQLite's
    // page cache into the WAL again and again (gigabytes).
    constexpr int kSlice = 50000;
    const auto tpStart = std::chrono::steady_clock::now();
    for (int nDone = 0; pConnection && nDone < kRows; nDone += kSlice) {
        if (!pConnection->Exec(strSql, {std::to_string(nDone + 1), std::to_string(nDone + kSlice)},
                               nullptr, strError)) {
            std::printf("filling %s failed: %s\n", bSqlite ? "SQLite" : "PostgreSQL",
                        strError.c_str());
            return;
        }
    }
    const auto tpUpgrade = std::chrono::steady_clock::now();
    const bool bUpgraded =
        fwup::CRecordDb(fwup::OpenSqlConnection(strStore, strError, kFillDeadline), "db")
            .Prepare(strError);
    std::printf("%-10s 1M rows%s: filled in %.1f s, upgraded to the aggregates in %.1f s%s%s\n",
                bSqlite ? "SQLite" : "PostgreSQL", bSpread ? " spread" : "       ",
                std::chrono::duration<double>(tpUpgrade - tpStart).count(),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - tpUpgrade).count(),
                bUpgraded ? "" : ": failed, ", bUpgraded ? "" : strError.c_str());
}

// CPU seconds that a process's ended and reaped children used (/proc stat's
// cutime + cstime): for the PostgreSQL server, the backends of finished clients.
double ReapedChildrenCpu(long nPid) {
    std::ifstream stat("/proc/" + std::to_string(nPid) + "/stat");
    std::string strStat((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(strStat.substr(strStat.rfind(')') + 2));
    std::vector<std::string> values{std::istream_iterator<std::string>(fields), {}};
    return values.size() > 14
               ? (std::stod(values[13]) + std::stod(values[14])) / ::sysconf(_SC_CLK_TCK)
               : 0.0;
}

std::set<long> Children(long nPid) {
    std::ifstream list("/proc/" + std::to_string(nPid) + "/task/" + std::to_string(nPid) +
                       "/children");
    return {std::istream_iterator<long>(list), {}};
}

// Waits (at most 10 s) until the processes in pids are gone: reaped, their CPU
// time is in their parent's.
void WaitReaped(const std::set<long>& pids) {
    const auto tpGiveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (long nPid : pids) {
        while (::access(("/proc/" + std::to_string(nPid)).c_str(), F_OK) == 0 &&
               std::chrono::steady_clock::now() < tpGiveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

// The server's process: the parent of the backend that serves a connection.
long PostmasterPid(const std::string& strStore) {
    std::string strError;
    std::vector<fwup::SqlRow> rows;
    auto pConnection = fwup::OpenSqlConnection(strStore, strError);
    if (!pConnection || !pConnection->Exec("SELECT pg_backend_pid()", {}, &rows, strError) ||
        rows.empty() || !rows[0][0]) {
        return 0;
    }
    std::ifstream stat("/proc/" + *rows[0][0] + "/stat");
    std::string strStat((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(strStat.substr(strStat.rfind(')') + 2));
    std::string strState;
    long nParent = 0;
    fields >> strState >> nParent;
    pConnection.reset();
    WaitReaped({std::stol(*rows[0][0])}); // its time is not the runs'
    return nParent;
}

// One CLI run with its own CPU time and, with a server, the CPU time of the
// server's processes that ended meanwhile (its backend, parallel workers): on a
// shared machine the wall time says more about the others' load than the query.
fwbench::ChildRun TimedRun(const std::vector<std::string>& args, const std::string& strOut,
                           long nServerPid, double& dServerCpu) {
    const std::set<long> before = nServerPid ? Children(nServerPid) : std::set<long>{};
    const double dBefore = nServerPid ? ReapedChildrenCpu(nServerPid) : 0.0;
    const fwbench::ChildRun run = fwbench::RunProgram(FWUP_CLI_PATH, args, strOut);
    std::set<long> started;
    for (long nPid : nServerPid ? Children(nServerPid) : std::set<long>{}) {
        if (before.count(nPid) == 0) {
            started.insert(nPid); // the backend ends when its client has gone
        }
    }
    WaitReaped(started);
    dServerCpu = nServerPid ? ReapedChildrenCpu(nServerPid) - dBefore : 0.0;
    return run;
}

void SummaryAndReport(const std::string& strName, const std::string& strRoot,
                      const std::string& strStore, bool bServer) {
    const char* pszName = strName.c_str();
    const long nServerPid = bServer ? PostmasterPid(strStore) : 0;
    double dSummaryServer = 0, dReportServer = 0;
    const fwbench::ChildRun summary =
        TimedRun({"records", "summary", "--db", strStore}, strRoot + "/summary.txt", nServerPid,
                 dSummaryServer);
    const std::string strHtml = strRoot + "/report.html";
    const fwbench::ChildRun report =
        TimedRun({"records", "report", "--db", strStore, "--html", strHtml},
                 strRoot + "/report.txt", nServerPid, dReportServer);
    std::error_code ec;
    const auto nBytes = std::filesystem::file_size(strHtml, ec);
    std::printf("%-10s 1M rows      : summary %6.2f s (exit %d, target <= 3 s), report %6.2f s "
                "(exit %d, target <= 10 s), HTML %ld bytes (target <= 2 MB)\n",
                pszName, summary.dSeconds, summary.nExit, report.dSeconds, report.nExit,
                ec ? -1L : static_cast<long>(nBytes));
    std::printf("%-10s 1M rows, CPU : summary %6.2f s (client %.2f s, server %.2f s), report "
                "%6.2f s (client %.2f s, server %.2f s)\n",
                pszName, summary.dCpuSeconds + dSummaryServer, summary.dCpuSeconds, dSummaryServer,
                report.dCpuSeconds + dReportServer, report.dCpuSeconds, dReportServer);
}

} // namespace

int main(int argc, char** argv) {
    // "readers": only the inserts and the 64 readers; "million": only the million rows.
    const std::string strOnly = argc > 1 ? argv[1] : "";
    const bool bMillion = strOnly != "readers";
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as soon as it is known
    const fwtest::CTempRoot root(false);      // removed with everything below it
    const std::string& strRoot = root.Path();
    setenv("XDG_STATE_HOME", strRoot.c_str(), 1);
    fwtest::CPgServer server;
    std::string strError;
    if (!fwtest::CPgServer::Available() || !server.Start(strError, true)) {
        std::fprintf(stderr, "no PostgreSQL 15 server: %s\n", strError.c_str());
        return 1;
    }
    const std::string strUri = server.Uri();
    if (strOnly != "million") {
        InsertLatency("SQLite", strRoot + "/latency.db");
        InsertLatency("PostgreSQL", strUri + "?options=-csearch_path%3Dpublic");

        const std::string strFile = fwbench::WriteBenchImage(strRoot, fwbench::BenchImage(20000));
        int nJsonExit = -1, nPgExit = -1;
        const double dJson =
            ReadersWall(strRoot, "json", strFile, strRoot + "/units.jsonl", nJsonExit);
        const double dPg = ReadersWall(strRoot, "postgres", strFile, strUri, nPgExit);
        std::printf(
            "%d readers, wall    : JSON lines %.2f s (exit %d), PostgreSQL %.2f s (exit %d) "
            "= %.3f x (target <= 1.05)\n",
            kReaders, dJson, nJsonExit, dPg, nPgExit, dPg / dJson);
    }

    if (bMillion) {
        for (const bool bSpread : {false, true}) {
            const std::string strSchema = bSpread ? "spread" : "million";
            const std::string strMillion = strUri + "?options=-csearch_path%3D" + strSchema;
            fwup::OpenSqlConnection(strUri, strError)
                ->Exec("CREATE SCHEMA IF NOT EXISTS " + strSchema, {}, nullptr, strError);
            FillMillion(strMillion, false, bSpread);
            SummaryAndReport(bSpread ? "PG spread" : "PostgreSQL", strRoot, strMillion, true);
            const std::string strFile = strRoot + "/" + strSchema + ".db";
            FillMillion(strFile, true, bSpread);
            SummaryAndReport(bSpread ? "SQL. spread" : "SQLite", strRoot, strFile, false);
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(strRoot, ec);
    return 0;
}
