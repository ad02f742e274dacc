// Unit records: one record's insert (median and 95th percentile) into SQLite and
// into PostgreSQL on 127.0.0.1 (fsync on); 64 simulated readers flashed by
// `fwupgrader-cli auto --parallel` with a PostgreSQL store against JSON lines
// (wall ratio); `records summary` and `records report` over 1,000,000 rows in
// SQLite and in PostgreSQL (wall and CPU time, HTML size); many writers into one
// PostgreSQL store: `records import` processes (one against 64) and writer
// threads of their own connection each (records/s, p99 of one record's
// write). Figures only.

#include "bench/BenchRoot.h"
#include "records/CRecordDb.h"
#include "records/RecordBackends.h"
#include "sim/CSimDevice.h"
#include "tests/support/CPgServer.h"
#include "tests/support/CTempRoot.h"

#include <algorithm>
#include <atomic>
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
constexpr int kImporters = 64;
constexpr int kImportEach = 150;
constexpr int kWrites = 6400; // records of all writer threads together

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

// A fresh schema of the server for one measurement: its store's URI.
std::string FreshSchema(const std::string& strUri, const std::string& strSchema) {
    std::string strError;
    auto pConnection = fwup::OpenSqlConnection(strUri, strError);
    if (!pConnection ||
        !pConnection->Exec("DROP SCHEMA IF EXISTS " + strSchema + " CASCADE", {}, nullptr,
                           strError) ||
        !pConnection->Exec("CREATE SCHEMA " + strSchema, {}, nullptr, strError)) {
        std::printf("schema %s: %s\n", strSchema.c_str(), strError.c_str());
    }
    return strUri + "?options=-csearch_path%3D" + strSchema;
}

// Records of distinct units (serial, id) for importer or writer nWriter.
fwup::UnitRecord WriterSample(int nWriter, int n) {
    fwup::UnitRecord r = Sample(nWriter * 100000 + n);
    r.optSerial = "SN" + std::to_string(nWriter) + "-" + std::to_string(n);
    r.strId = fwup::DerivedRecordId(*r.optSerial);
    return r;
}

// The same kImporters x kImportEach records imported by one `records import`
// and by kImporters of them at once, each into a fresh store.
void Importers(const std::string& strRoot, const std::string& strUri) {
    std::ofstream all(strRoot + "/all.jsonl");
    for (int w = 0; w < kImporters; ++w) {
        std::ofstream part(strRoot + "/part" + std::to_string(w) + ".jsonl");
        for (int n = 0; n < kImportEach; ++n) {
            const std::string strLine = fwup::FormatUnitRecord(WriterSample(w, n)) + "\n";
            part << strLine;
            all << strLine;
        }
    }
    all.close();
    const std::string strOne = FreshSchema(strUri, "import_one");
    const fwbench::ChildRun one = fwbench::RunProgram(
        FWUP_CLI_PATH, {"records", "import", "--db", strOne, strRoot + "/all.jsonl"},
        strRoot + "/import-one.txt");
    const std::string strMany = FreshSchema(strUri, "import_many");
    std::vector<fwbench::ChildRun> runs(kImporters);
    std::vector<std::thread> threads;
    const auto tpStart = std::chrono::steady_clock::now();
    for (int w = 0; w < kImporters; ++w) {
        threads.emplace_back([&, w] {
            const std::string strPart = strRoot + "/part" + std::to_string(w);
            runs[static_cast<size_t>(w)] = fwbench::RunProgram(
                FWUP_CLI_PATH, {"records", "import", "--db", strMany, strPart + ".jsonl"},
                strPart + ".txt");
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const double dMany =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - tpStart).count();
    const int nFailed = static_cast<int>(
        std::count_if(runs.begin(), runs.end(), [](const auto& run) { return run.nExit != 0; }));
    constexpr int kTotal = kImporters * kImportEach;
    // The shards folded or not, the summary must count every record once.
    fwup::RecordSummary summary;
    std::string strError;
    fwup::CRecordDb(fwup::OpenSqlConnection(strMany, strError), "db").Summarize(summary, strError);
    std::printf("import %d rec.  : 1 process %.0f records/s (exit %d), %d processes %.0f "
                "records/s (%d failed) = %.2f x (target >= 1); their summary: %lld attempts, "
                "%lld units\n",
                kTotal, kTotal / one.dSeconds, one.nExit, kImporters, kTotal / dMany, nFailed,
                one.dSeconds / dMany, static_cast<long long>(summary.total.nAttempts),
                static_cast<long long>(summary.total.nSerials));
}

// nWriters threads, each with its own connection, write kWrites records
// together, one transaction per record: records/s together, a record's p50 and p99.
void Writers(const std::string& strUri, int nWriters) {
    const std::string strStore = FreshSchema(strUri, "writers" + std::to_string(nWriters));
    std::string strError;
    fwup::CRecordDb(fwup::OpenSqlConnection(strStore, strError), "db").Prepare(strError);
    std::vector<std::vector<double>> ms(static_cast<size_t>(nWriters));
    std::vector<std::thread> threads;
    std::atomic<int> nErrors{0};
    const auto tpStart = std::chrono::steady_clock::now();
    for (int w = 0; w < nWriters; ++w) {
        threads.emplace_back([&, w] {
            std::string strMyError;
            fwup::CRecordDb db(fwup::OpenSqlConnection(strStore, strMyError), "db");
            for (int n = 0; n < kWrites / nWriters; ++n) {
                const fwup::UnitRecord record = WriterSample(w, n);
                const auto tpPut = std::chrono::steady_clock::now();
                if (!db.Put(record, strMyError)) {
                    ++nErrors;
                    return;
                }
                ms[static_cast<size_t>(w)].push_back(std::chrono::duration<double, std::milli>(
                                                         std::chrono::steady_clock::now() - tpPut)
                                                         .count());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const double dWall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - tpStart).count();
    std::vector<double> all;
    for (const auto& mine : ms) {
        all.insert(all.end(), mine.begin(), mine.end());
    }
    std::sort(all.begin(), all.end());
    if (all.empty()) {
        std::printf("%d writers: nothing written\n", nWriters);
        return;
    }
    std::printf("%2d writer(s)   : %.0f records/s together, a record's write p50 %.1f ms, p99 "
                "%.1f ms (%zu records, %d writers failed)\n",
                nWriters, static_cast<double>(all.size()) / dWall, all[all.size() / 2],
                all[all.size() * 99 / 100], all.size(), nErrors.load());
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
    // "readers": only the inserts and the 64 readers; "million": only the million
    // rows; "writers": only the many writers.
    const std::string strOnly = argc > 1 ? argv[1] : "";
    const bool bMillion = strOnly.empty() || strOnly == "million";
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
    if (strOnly.empty() || strOnly == "writers") {
        Importers(strRoot, strUri);
        for (const int nWriters : {1, kImporters}) {
            Writers(strUri, nWriters);
        }
    }
    if (strOnly.empty() || strOnly == "readers") {
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
