// fwupgrader-cli records: the unit records of a store: list, summary, an HTML
// report, sending the spool, importing old JSON-lines files.
#include "cli/CliCommands.h"

#include "records/CJsonLinesStore.h"
#include "records/CRecordDb.h"
#include "records/CUnitRecordLog.h"
#include "records/HtmlReport.h"
#include "records/RecordBackends.h"
#include "records/RecordStoreText.h"
#include "records/UnitRecordFields.h"
#include "serial/Utf8Text.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

namespace fwup::cli {

namespace {

const char* const kRecordsHelp =
    "usage: fwupgrader-cli records list --db STORE [--serial SN] [--since T] [--until T]\n"
    "                                   [--result pass|fail] [--station S]\n"
    "                                   [--format table|csv|jsonl]\n"
    "       fwupgrader-cli records summary --db STORE [--json]\n"
    "       fwupgrader-cli records report --db STORE --html FILE\n"
    "       fwupgrader-cli records sync --db STORE\n"
    "       fwupgrader-cli records import --db STORE FILE.jsonl\n"
    "\n"
    "  STORE     a postgresql:// URI (or key=value string) or a .db/.sqlite file;\n"
    "            sync also takes a JSON-lines file\n"
    "  T         a UTC time: 2026-12-08 or 2026-12-08T06:10[:00][Z]\n"
    "  summary   units, passed, failed, first-pass yield and median and 95th-percentile\n"
    "            seconds, in all and by station, image and day\n"
    "  report    one self-contained HTML page with charts, for screen and print\n"
    "  sync      sends the records spooled for STORE while it could not take them\n"
    "  import    reads a JSON-lines record file; a line without an id gets one from\n"
    "            its text, so importing a file twice adds nothing\n";

struct RecordsOptions {
    std::string strCommand, strDb, strHtml, strFormat = "table", strFile;
    bool bJson = false, bHelp = false;
    RecordFilter filter;
};

bool ParseRecordsOptions(const std::vector<std::string>& args, RecordsOptions& o,
                         std::string& strError) {
    if (args.empty()) {
        strError = "which records command? list, summary, report, sync or import";
        return false;
    }
    o.strCommand = args[0];
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& strArg = args[i];
        std::string strValue;
        const bool bTakesValue = strArg == "--db" || strArg == "--html" || strArg == "--format" ||
                                 strArg == "--serial" || strArg == "--since" ||
                                 strArg == "--until" || strArg == "--result" ||
                                 strArg == "--station";
        if (bTakesValue) {
            if (i + 1 >= args.size()) {
                strError = strArg + " needs a value";
                return false;
            }
            strValue = args[++i];
        }
        const auto time = [&](std::optional<std::string>& optOut) {
            optOut = CanonicalUtcTime(strValue);
            if (optOut->empty()) {
                strError =
                    strArg + " needs a UTC time like 2026-12-08T06:10:00Z, got '" + strValue + "'";
                return false;
            }
            return true;
        };
        if (strArg == "--help" || strArg == "-h") {
            o.bHelp = true;
        } else if (strArg == "--json" && o.strCommand == "summary") {
            o.bJson = true;
        } else if (strArg == "--db") {
            o.strDb = strValue;
        } else if (strArg == "--html" && o.strCommand == "report") {
            o.strHtml = strValue;
        } else if (o.strCommand != "list" && bTakesValue) {
            strError = "records " + o.strCommand + " has no option " + strArg;
            return false;
        } else if (strArg == "--format") {
            o.strFormat = strValue;
            if (strValue != "table" && strValue != "csv" && strValue != "jsonl") {
                strError = "--format is table, csv or jsonl, not '" + strValue + "'";
                return false;
            }
        } else if (strArg == "--serial") {
            o.filter.optSerial = strValue;
        } else if (strArg == "--station") {
            o.filter.optStation = strValue;
        } else if (strArg == "--since" || strArg == "--until") {
            if (!time(strArg == "--since" ? o.filter.optSince : o.filter.optUntil)) {
                return false;
            }
        } else if (strArg == "--result") {
            if (strValue != "pass" && strValue != "fail") {
                strError = "--result is pass or fail, not '" + strValue + "'";
                return false;
            }
            o.filter.optPassed = strValue == "pass";
        } else if (o.strCommand == "import" && o.strFile.empty() && strArg.rfind("--", 0) != 0) {
            o.strFile = strArg;
        } else {
            strError = "unknown option '" + strArg + "'";
            return false;
        }
    }
    if (o.bHelp || o.strCommand == "--help" || o.strCommand == "-h") {
        o.bHelp = true;
        return true;
    }
    if (o.strCommand != "list" && o.strCommand != "summary" && o.strCommand != "report" &&
        o.strCommand != "sync" && o.strCommand != "import") {
        strError = "unknown records command '" + o.strCommand + "'";
        return false;
    }
    if (o.strDb.empty()) {
        strError = "--db STORE is required";
        return false;
    }
    if (o.strCommand == "report" && o.strHtml.empty()) {
        strError = "--html FILE is required";
        return false;
    }
    if (o.strCommand == "import" && o.strFile.empty()) {
        strError = "which file to import?";
        return false;
    }
    return true;
}

// The database of --db; null with a message on stderr.
std::unique_ptr<CRecordDb> OpenDb(const RecordsOptions& o) {
    const StoreKind eKind = StoreKindOf(o.strDb);
    std::string strError;
    std::error_code ec;
    if (eKind == StoreKind::JsonLines) {
        strError = "'" + o.strDb + "' is a JSON-lines file; records " + o.strCommand +
                   " needs a database (a .db file or a postgresql:// URI): 'records import' "
                   "reads the file into one";
    } else if (eKind == StoreKind::Sqlite && o.strCommand != "import" &&
               !std::filesystem::exists(PathFromUtf8(o.strDb), ec)) {
        strError = "there is no record database " + o.strDb;
    } else if (auto pConnection = OpenSqlConnection(o.strDb, strError)) {
        auto pDb = std::make_unique<CRecordDb>(std::move(pConnection), MaskedStore(o.strDb));
        if (pDb->Prepare(strError)) {
            return pDb;
        }
        strError = MaskedStore(o.strDb) + ": " + strError;
    }
    std::fprintf(stderr, "fwupgrader-cli records %s: %s\n", o.strCommand.c_str(), strError.c_str());
    return nullptr;
}

int Failed(const RecordsOptions& o, const std::string& strError) {
    std::fprintf(stderr, "fwupgrader-cli records %s: %s: %s\n", o.strCommand.c_str(),
                 MaskedStore(o.strDb).c_str(), strError.c_str());
    return kExitStoreFailed;
}

std::string CsvField(const std::string& strText) {
    if (strText.find_first_of(",\"\r\n") == std::string::npos) {
        return strText;
    }
    std::string strOut = "\"";
    for (const char c : strText) {
        strOut += c == '"' ? "\"\"" : std::string(1, c);
    }
    return strOut + "\"";
}

int RunList(const RecordsOptions& o) {
    const std::unique_ptr<CRecordDb> pDb = OpenDb(o);
    std::vector<UnitRecord> records;
    std::string strError;
    if (!pDb) {
        return kExitUsage;
    }
    if (!pDb->List(o.filter, records, strError)) {
        return Failed(o, strError);
    }
    if (o.strFormat == "jsonl") {
        for (const UnitRecord& r : records) {
            std::fputs(FormatUnitRecord(r).c_str(), stdout);
        }
    } else if (o.strFormat == "csv") {
        std::string strHead;
        for (const UnitRecordField& field : kUnitRecordFields) {
            strHead += strHead.empty() ? "" : ",";
            strHead += field.pszJsonKey;
        }
        std::puts(strHead.c_str());
        for (const UnitRecord& r : records) {
            std::string strLine;
            for (const UnitRecordField& field : kUnitRecordFields) {
                if (!strLine.empty()) {
                    strLine += ',';
                }
                strLine += CsvField(FieldText(r, field).value_or(""));
            }
            std::puts(strLine.c_str());
        }
    } else {
        std::printf("%-20s  %-12s  %-12s  %-26s  %-7s  %8s  %s\n", "time", "station", "serial",
                    "file", "attempt", "seconds", "result");
        for (const UnitRecord& r : records) {
            std::printf("%-20s  %-12s  %-12s  %-26s  %-7d  %8.1f  %s\n", r.strTime.c_str(),
                        r.strStation.c_str(), r.optSerial.value_or("-").c_str(), r.strFile.c_str(),
                        r.nAttempt, r.dSeconds, r.strResult.c_str());
        }
        std::printf("%zu unit(s)\n", records.size());
    }
    return kExitOk;
}

std::string SummaryJson(const SummaryRow& r, const char* pszKey) {
    char szNumbers[256];
    std::snprintf(szNumbers, sizeof szNumbers,
                  "\"units\":%lld,\"passed\":%lld,\"failed\":%lld,\"serials\":%lld,"
                  "\"first_pass_serials\":%lld,\"first_pass_yield\":%.4f,"
                  "\"median_seconds\":%.3f,\"p95_seconds\":%.3f",
                  static_cast<long long>(r.nUnits), static_cast<long long>(r.nPassed),
                  static_cast<long long>(r.Failed()), static_cast<long long>(r.nSerials),
                  static_cast<long long>(r.nFirstPassed), r.FirstPassYield(), r.dMedianSeconds,
                  r.dP95Seconds);
    // Appended piece by piece: gcc 12 at -O3 misreads a chain starting with a
    // literal as an overlapping copy (-Wrestrict).
    std::string strJson = "{";
    if (pszKey != nullptr) {
        strJson += '"';
        strJson += pszKey;
        strJson += "\":";
        strJson += JsonStringOrNull(r.strKey);
        strJson += ',';
    }
    strJson += szNumbers;
    strJson += '}';
    return strJson;
}

std::string SummaryText(const SummaryRow& r) {
    char szText[256];
    std::snprintf(szText, sizeof szText, "%8lld %8lld %8lld %7.1f %% %9.1f %9.1f",
                  static_cast<long long>(r.nUnits), static_cast<long long>(r.nPassed),
                  static_cast<long long>(r.Failed()), r.FirstPassYield() * 100.0, r.dMedianSeconds,
                  r.dP95Seconds);
    return szText;
}

int RunSummary(const RecordsOptions& o) {
    const std::unique_ptr<CRecordDb> pDb = OpenDb(o);
    RecordSummary summary;
    std::string strError;
    if (!pDb) {
        return kExitUsage;
    }
    if (!pDb->Summarize(summary, strError)) {
        return Failed(o, strError);
    }
    const std::pair<const char*, const std::vector<SummaryRow>*> groups[] = {
        {"station", &summary.byStation}, {"sha256", &summary.byImage}, {"day", &summary.byDay}};
    if (o.bJson) {
        std::string strJson = SummaryJson(summary.total, nullptr);
        strJson.pop_back();
        for (const auto& [pszKey, pRows] : groups) {
            strJson += ",\"by_";
            strJson += pszKey == std::string("sha256") ? "image" : pszKey;
            strJson += "\":[";
            for (size_t i = 0; i < pRows->size(); ++i) {
                if (i > 0) {
                    strJson += ',';
                }
                strJson += SummaryJson((*pRows)[i], pszKey);
            }
            strJson += "]";
        }
        std::printf("%s}\n", strJson.c_str());
        return kExitOk;
    }
    const char* const pszHead = "   units   passed   failed  1st-pass    median       p95";
    std::printf("%-20s %s\n%-20s %s\n", "", pszHead, "all", SummaryText(summary.total).c_str());
    for (const auto& [pszKey, pRows] : groups) {
        std::printf("\nby %s:\n", pszKey);
        for (const SummaryRow& r : *pRows) {
            const std::string strKey = r.strKey.empty() ? "(none)" : r.strKey;
            // An image is known by its digest's start, as git shows commits.
            std::printf("%-20s %s\n", strKey.substr(0, 20).c_str(), SummaryText(r).c_str());
        }
    }
    std::printf("\n(median and 95th percentile in seconds; first-pass yield: serials whose first "
                "attempt passed, of all serials)\n");
    return kExitOk;
}

int RunReport(const RecordsOptions& o) {
    const std::unique_ptr<CRecordDb> pDb = OpenDb(o);
    ReportData report;
    std::string strError;
    if (!pDb) {
        return kExitUsage;
    }
    if (!pDb->Report(report, strError)) {
        return Failed(o, strError);
    }
    const std::string strHtml =
        FormatHtmlReport(report, MaskedStore(o.strDb), IsoUtcTime(std::time(nullptr)));
    // Written beside and renamed: a reader never sees half a page.
    const std::string strTemporary = o.strHtml + ".part";
    {
        std::ofstream file(PathFromUtf8(strTemporary), std::ios::binary | std::ios::trunc);
        file.write(strHtml.data(), static_cast<std::streamsize>(strHtml.size()));
        if (!file.flush()) {
            std::fprintf(stderr, "fwupgrader-cli records report: cannot write %s\n",
                         strTemporary.c_str());
            return kExitStoreFailed;
        }
    }
    std::error_code ec;
    std::filesystem::rename(PathFromUtf8(strTemporary), PathFromUtf8(o.strHtml), ec);
    if (ec) {
        std::fprintf(stderr, "fwupgrader-cli records report: cannot write %s: %s\n",
                     o.strHtml.c_str(), ec.message().c_str());
        return kExitStoreFailed;
    }
    std::printf("wrote %s (%zu bytes, %lld units)\n", o.strHtml.c_str(), strHtml.size(),
                static_cast<long long>(report.summary.total.nUnits));
    return kExitOk;
}

int RunSync(const RecordsOptions& o) {
    std::string strError;
    std::unique_ptr<CRecordSpool> pSpool = OpenSpool(false, strError);
    if (!pSpool) {
        if (!strError.empty()) {
            std::fprintf(stderr, "fwupgrader-cli records sync: %s\n", strError.c_str());
            return kExitStoreFailed;
        }
        std::printf("nothing is spooled\n");
        return kExitOk;
    }
    std::unique_ptr<IRecordStore> pStore;
    if (StoreKindOf(o.strDb) == StoreKind::JsonLines) {
        auto pFile = std::make_unique<CJsonLinesStore>();
        if (!pFile->Open(o.strDb, strError)) {
            std::fprintf(stderr, "fwupgrader-cli records sync: %s\n", strError.c_str());
            return kExitUsage;
        }
        pStore = std::move(pFile);
    } else if (!(pStore = OpenDb(o))) {
        return kExitUsage;
    }
    int nSent = 0;
    const bool bOk =
        CUnitRecordLog::SyncSpool(*pSpool, *pStore, StoreKey(o.strDb), nSent, strError);
    std::vector<UnitRecord> left;
    std::string strIgnored;
    pSpool->Pending(StoreKey(o.strDb), left, strIgnored);
    std::printf("sent %d spooled record(s) to %s; %zu left in %s\n", nSent,
                MaskedStore(o.strDb).c_str(), left.size(), pSpool->Path().c_str());
    return bOk ? kExitOk : Failed(o, strError);
}

int RunImport(const RecordsOptions& o) {
    std::ifstream file(PathFromUtf8(o.strFile), std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "fwupgrader-cli records import: cannot read %s\n", o.strFile.c_str());
        return kExitUsage;
    }
    const std::unique_ptr<CRecordDb> pDb = OpenDb(o);
    if (!pDb) {
        return kExitUsage;
    }
    std::string strLine, strError;
    int nLine = 0, nRead = 0, nBad = 0;
    while (std::getline(file, strLine)) {
        ++nLine;
        if (strLine.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        UnitRecord record;
        if (!ParseUnitRecord(strLine, record, strError)) {
            std::fprintf(stderr, "%s:%d: skipped: %s\n", o.strFile.c_str(), nLine,
                         strError.c_str());
            ++nBad;
            continue;
        }
        if (!pDb->Put(record, strError)) {
            return Failed(o, strError);
        }
        ++nRead;
    }
    std::printf("imported %d record(s) from %s into %s (an id already there is kept once)%s\n",
                nRead, o.strFile.c_str(), MaskedStore(o.strDb).c_str(),
                nBad > 0 ? ("; " + std::to_string(nBad) + " malformed line(s) skipped").c_str()
                         : "");
    return kExitOk;
}

} // namespace

int RunRecords(const std::vector<std::string>& args) {
    RecordsOptions o;
    std::string strError;
    if (!ParseRecordsOptions(args, o, strError)) {
        std::fprintf(stderr, "fwupgrader-cli records: %s\n\n%s", strError.c_str(), kRecordsHelp);
        return kExitUsage;
    }
    if (o.bHelp) {
        std::printf("%s\n%s", kRecordsHelp, ExitCodeHelp().c_str());
        return kExitOk;
    }
    return o.strCommand == "list"      ? RunList(o)
           : o.strCommand == "summary" ? RunSummary(o)
           : o.strCommand == "report"  ? RunReport(o)
           : o.strCommand == "sync"    ? RunSync(o)
                                       : RunImport(o);
}

} // namespace fwup::cli
