// Unit records: one record's insert (median and 95th percentile) into SQLite and
// into PostgreSQL on 127.0.0.1 (fsync on); 64 simulated readers flashed by
// `fwupgrader-cli auto --parallel` with a PostgreSQL store against JSON lines
// (wall ratio); `records summary` and `records report` over 1,000,000 rows in
// SQLite and in PostgreSQL (time, HTML size). Figures only.

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
#include <memory>
#include <string>
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

// The database makes the rows itself: the figures are about reading them.
void FillMillion(const std::string& strStore, bool bSqlite) {
    std::string strError;
    fwup::CRecordDb(fwup::OpenSqlConnection(strStore, strError), "db").Prepare(strError);
    const std::string strSql =
        bSqlite
            ? "WITH RECURSIVE g(n) AS (SELECT $1 + 0 UNION ALL SELECT n + 1 FROM g WHERE n < $2 + "
              "0) "
              "INSERT INTO units SELECT printf('%08x-0000-4000-8000-%012x', n, n), "
              "strftime('%Y-%m-%dT%H:%M:%SZ', '2026-11-01', '+' || (n * 3) || ' seconds'), "
              "'P (COM' || (n % 8 + 1) || ')', '1-1:1.0', 'SN' || (n % 700000), NULL, NULL, "
              "'fw.bin', 176128, printf('%064d', n % 3), CASE WHEN n % 20 = 0 THEN 'check "
              "connection' ELSE 'ok' END, CASE WHEN n % 20 = 0 THEN 10 ELSE 0 END, "
              "20 + (n % 97) / 10.0, 'bench-' || (n % 12), '1-1:1.0', 1 FROM g"
            : "INSERT INTO units SELECT md5(g::text)::uuid::text, timestamptz '2026-11-01' + g * "
              "interval '3 seconds', 'P (COM' || (g % 8 + 1) || ')', '1-1:1.0', 'SN' || (g % "
              "700000), NULL, NULL, 'fw.bin', 176128, lpad((g % 3)::text, 64, '0'), CASE WHEN "
              "g % 20 = 0 THEN 'check connection' ELSE 'ok' END, CASE WHEN g % 20 = 0 THEN 10 "
              "ELSE 0 END, 20 + (g % 97) / 10.0, 'bench-' || (g % 12), '1-1:1.0', 1 FROM "
              "generate_series($1::int, $2::int) g";
    auto pConnection = fwup::OpenSqlConnection(strStore, strError);
    // In slices of 50,000 rows: one transaction of a million would spill SQLite's
    // page cache into the WAL again and again (gigabytes).
    constexpr int kSlice = 50000;
    for (int nDone = 0; pConnection && nDone < kRows; nDone += kSlice) {
        if (!pConnection->Exec(strSql, {std::to_string(nDone + 1), std::to_string(nDone + kSlice)},
                               nullptr, strError)) {
            std::printf("filling %s failed: %s\n", bSqlite ? "SQLite" : "PostgreSQL",
                        strError.c_str());
            return;
        }
    }
}

void SummaryAndReport(const char* pszName, const std::string& strRoot,
                      const std::string& strStore) {
    const fwbench::ChildRun summary = fwbench::RunProgram(
        FWUP_CLI_PATH, {"records", "summary", "--db", strStore}, strRoot + "/summary.txt");
    const std::string strHtml = strRoot + "/report.html";
    const fwbench::ChildRun report = fwbench::RunProgram(
        FWUP_CLI_PATH, {"records", "report", "--db", strStore, "--html", strHtml},
        strRoot + "/report.txt");
    std::error_code ec;
    const auto nBytes = std::filesystem::file_size(strHtml, ec);
    std::printf("%-10s 1M rows      : summary %6.2f s (exit %d, target <= 3 s), report %6.2f s "
                "(exit %d, target <= 10 s), HTML %ld bytes (target <= 2 MB)\n",
                pszName, summary.dSeconds, summary.nExit, report.dSeconds, report.nExit,
                ec ? -1L : static_cast<long>(nBytes));
}

} // namespace

int main(int argc, char** argv) {
    // "readers": only the inserts and the 64 readers; "million": only the million rows.
    const std::string strOnly = argc > 1 ? argv[1] : "";
    const bool bMillion = strOnly != "readers";
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as soon as it is known
    const fwtest::CTempRoot root(false); // removed with everything below it
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
        std::string strMillion = strUri + "?options=-csearch_path%3Dmillion";
        fwup::OpenSqlConnection(strUri, strError)
            ->Exec("CREATE SCHEMA IF NOT EXISTS million", {}, nullptr, strError);
        FillMillion(strMillion, false);
        SummaryAndReport("PostgreSQL", strRoot, strMillion);
        FillMillion(strRoot + "/million.db", true);
        SummaryAndReport("SQLite", strRoot, strRoot + "/million.db");
    }
    std::error_code ec;
    std::filesystem::remove_all(strRoot, ec);
    return 0;
}
