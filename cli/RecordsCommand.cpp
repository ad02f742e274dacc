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
#include <limits>
#include <map>
#include <memory>

namespace fwup::cli {

namespace {

const char* const kRecordsHelp =
    "usage: fwupgrader-cli records list --db STORE [--serial SN] [--since T] [--until T]\n"
    "                                   [--result pass|fail] [--station S] [--slot L]\n"
    "                                   [--format table|csv|jsonl]\n"
    "       fwupgrader-cli records summary --db STORE [--by station|image|day|slot] [--json]\n"
    "       fwupgrader-cli records report --db STORE --html FILE\n"
    "       fwupgrader-cli records sync --db STORE\n"
    "       fwupgrader-cli records import --db STORE FILE.jsonl\n"
    "\n"
    "  STORE     a postgresql:// URI (or key=value string) or a .db/.sqlite file;\n"
    "            sync also takes a JSON-lines file\n"
    "  T         a UTC time: 2026-12-08 or 2026-12-08T06:10[:00][Z]\n"
    "  list      one line per record (table; CSV: one row per record, no line break\n"
    "            inside a cell; jsonl: the records exactly)\n"
    "  summary   units (serial numbers), attempts, passed, failed, stopped, current,\n"
    "            first-pass and final yield, median and 95th-percentile seconds of\n"
    "            passed attempts and the failed ones' median, in all and by station,\n"
    "            image and day (--by: one grouping; slot only with --by slot)\n"
    "  report    one self-contained HTML page with charts, for screen and print\n"
    "  list, summary, report  only read STORE: nothing in it is created or changed\n"
    "  sync      sends the records spooled for STORE while it could not take them;\n"
    "            names each it still could not send, and why (exit 3)\n"
    "  import    reads a JSON-lines record file; a line without an id gets one from\n"
    "            its text, so importing a file twice adds nothing; a line no store\n"
    "            keeps exactly (a number out of range, a NUL, over 64 KiB) is refused\n"
    "            by its number\n";

struct RecordsOptions {
    std::string strCommand, strDb, strHtml, strFormat = "table", strFile;
    std::string strBy; // summary --by: station, image, day or slot; empty: all but slot
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
                                 strArg == "--station" || strArg == "--slot" || strArg == "--by";
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
        } else if (strArg == "--by" && o.strCommand == "summary") {
            if (strValue != "station" && strValue != "image" && strValue != "day" &&
                strValue != "slot") {
                strError = "--by is station, image, day or slot, not '" + strValue + "'";
                return false;
            }
            o.strBy = strValue;
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
        } else if (strArg == "--slot") {
            o.filter.optSlot = strValue;
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

// The database of --db; null with a message on stderr. list, summary and report
// only read: they open it read-only and never create or upgrade its tables.
std::unique_ptr<CRecordDb> OpenDb(const RecordsOptions& o) {
    const bool bReadOnly = o.strCommand != "import" && o.strCommand != "sync";
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
    } else if (auto pConnection = OpenSqlConnection(o.strDb, strError, kStoreDeadline, bReadOnly)) {
        auto pDb = std::make_unique<CRecordDb>(std::move(pConnection), MaskedStore(o.strDb));
        if (bReadOnly ? pDb->PrepareToRead(strError) : pDb->Prepare(strError)) {
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

// A CSV cell: stored controls and bytes that are not UTF-8 as \xHH (CSV is read
// on terminals and in spreadsheets; --format jsonl keeps the exact bytes), and a
// text that a spreadsheet would take for a formula (=, +, -, @, tab, CR first)
// after an apostrophe, as OWASP's CSV-injection guidance says.
std::string CsvField(const std::string& strValue, bool bText) {
    std::string strText = bText ? DisplayText(strValue) : strValue;
    if (bText && !strText.empty() &&
        std::string("=+-@\t\r").find(strText[0]) != std::string::npos) {
        strText.insert(0, 1, '\'');
    }
    if (strText.find_first_of(",\"\r\n") == std::string::npos) {
        return strText;
    }
    std::string strOut = "\"";
    for (const char c : strText) {
        strOut += c == '"' ? "\"\"" : std::string(1, c);
    }
    return strOut + "\"";
}

// A stored text on one line: the success text runs over two, and a table row
// or CSV cell must not. Each CR, LF or CR LF becomes one space.
std::string OneLine(const std::string& strText) {
    std::string strOut;
    for (size_t i = 0; i < strText.size(); ++i) {
        if (strText[i] == '\r' || strText[i] == '\n') {
            strOut += ' ';
            i += strText[i] == '\r' && i + 1 < strText.size() && strText[i + 1] == '\n' ? 1 : 0;
        } else {
            strOut += strText[i];
        }
    }
    return strOut;
}

std::string Fixed1(double dValue) {
    char szText[32];
    std::snprintf(szText, sizeof szText, "%.1f", dValue);
    return szText;
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
                strLine +=
                    CsvField(OneLine(FieldText(r, field).value_or("")), !IsNumberField(field));
            }
            std::puts(strLine.c_str());
        }
    } else {
        std::printf("%-20s  %-12s  %-12s  %-26s  %-7s  %8s  %s\n", "time", "station", "serial",
                    "file", "attempt", "seconds", "result");
        for (const UnitRecord& r : records) {
            // Stored texts came from readers and operators: escaped for the terminal.
            std::printf("%-20s  %-12s  %-12s  %-26s  %-7d  %8.1f  %s\n",
                        DisplayText(r.strTime).c_str(), DisplayText(r.strStation).c_str(),
                        DisplayText(r.optSerial.value_or("-")).c_str(),
                        DisplayText(r.strFile).c_str(), r.nAttempt, r.dSeconds,
                        DisplayText(OneLine(r.strResult)).c_str());
        }
        std::printf("%zu unit(s)\n", records.size());
    }
    return kExitOk;
}

// A slot's key as shown: "STATION / SLOT".
std::string ShownKey(const SummaryRow& r, bool bSlot) {
    if (!bSlot) {
        return r.strKey;
    }
    const auto [strStation, strSlot] = SlotKeyParts(r.strKey);
    return strStation + " / " + strSlot;
}

std::string SummaryJson(const SummaryRow& r, const char* pszKey) {
    char szNumbers[512];
    std::snprintf(szNumbers, sizeof szNumbers,
                  "\"units\":%lld,\"units_without_serial\":%lld,\"attempts\":%lld,\"passed\":%lld,"
                  "\"failed\":%lld,\"stopped\":%lld,\"current\":%lld,\"first_pass_units\":%lld,"
                  "\"first_pass_yield\":%.4f,\"final_pass_units\":%lld,\"final_yield\":%.4f,"
                  "\"median_seconds\":%.1f,\"p95_seconds\":%.1f,\"failed_median_seconds\":%.1f",
                  static_cast<long long>(r.nSerials), static_cast<long long>(r.nNoSerial),
                  static_cast<long long>(r.nAttempts), static_cast<long long>(r.nPassed),
                  static_cast<long long>(r.Failed()), static_cast<long long>(r.nStopped),
                  static_cast<long long>(r.nCurrent), static_cast<long long>(r.nFirstPassed),
                  r.FirstPassYield(), static_cast<long long>(r.nLastPassed), r.FinalYield(),
                  r.dMedianSeconds, r.dP95Seconds, r.dFailedMedianSeconds);
    // Appended piece by piece: gcc 12 at -O3 misreads a chain starting with a
    // literal as an overlapping copy (-Wrestrict).
    std::string strJson = "{";
    if (pszKey != nullptr) {
        strJson += '"';
        strJson += pszKey;
        strJson += "\":";
        strJson += JsonStringOrNull(ShownKey(r, std::string(pszKey) == "slot"));
        strJson += ',';
    }
    strJson += szNumbers;
    strJson += '}';
    return strJson;
}

std::string SummaryText(const SummaryRow& r) {
    char szText[256];
    std::snprintf(szText, sizeof szText,
                  "%7lld %8lld %7lld %7lld %7lld %7lld %7.1f %% %7.1f %% %7.1f %7.1f %7s",
                  static_cast<long long>(r.nSerials), static_cast<long long>(r.nAttempts),
                  static_cast<long long>(r.nPassed), static_cast<long long>(r.Failed()),
                  static_cast<long long>(r.nStopped), static_cast<long long>(r.nCurrent),
                  r.FirstPassYield() * 100.0, r.FinalYield() * 100.0, r.dMedianSeconds,
                  r.dP95Seconds, r.Failed() > 0 ? Fixed1(r.dFailedMedianSeconds).c_str() : "-");
    std::string strText = szText;
    if (r.nNoSerial > 0) {
        strText += "  (+" + std::to_string(r.nNoSerial) + " attempts without serial)";
    }
    return strText;
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
    std::vector<std::pair<const char*, const std::vector<SummaryRow>*>> groups = {
        {"station", &summary.byStation},
        {"sha256", &summary.byImage},
        {"day", &summary.byDay},
        {"slot", &summary.bySlot}};
    if (!o.strBy.empty()) {
        // --by: that grouping alone.
        std::erase_if(groups, [&](const auto& group) {
            return o.strBy != (group.first == std::string("sha256") ? "image" : group.first);
        });
    } else if (!o.bJson) {
        groups.pop_back(); // the slots' table is long: asked for with --by slot
    }
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
    const char* const pszHead = "  units attempts  passed  failed stopped current  1st-pass "
                                "    final  median     p95  failed";
    std::printf("%-20s %s\n%-20s %s\n", "", pszHead, "all", SummaryText(summary.total).c_str());
    for (const auto& [pszKey, pRows] : groups) {
        const bool bSlot = std::string(pszKey) == "slot";
        std::printf("\nby %s:\n", pszKey);
        for (const SummaryRow& r : *pRows) {
            const std::string strShown = ShownKey(r, bSlot);
            const std::string strKey = strShown.empty() ? "(none)" : DisplayText(strShown);
            // An image is known by its digest's start, as git shows commits.
            std::printf("%-20s %s\n", strKey.substr(0, 20).c_str(), SummaryText(r).c_str());
        }
    }
    std::printf("\n(units: serial numbers; first-pass and final yield: units whose first and "
                "whose last attempt passed; stopped and current records are neither passed nor "
                "failed and stay out of the yields; median and 95th percentile of passed "
                "attempts, and the failed attempts' median, in seconds, counted in tenths)\n");
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
    std::printf("wrote %s (%zu bytes, %lld units, %lld attempts)\n", o.strHtml.c_str(),
                strHtml.size(), static_cast<long long>(report.summary.total.nSerials),
                static_cast<long long>(report.summary.total.nAttempts));
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
    CUnitRecordLog::SpoolSync sync;
    const bool bOk = CUnitRecordLog::SyncSpool(*pSpool, *pStore, StoreKey(o.strDb), sync, strError);
    std::vector<UnitRecord> left;
    std::vector<std::string> unreadable;
    std::string strIgnored;
    pSpool->Pending(StoreKey(o.strDb), left, strIgnored, &unreadable);
    for (const std::string& strWhy : sync.notSent) {
        std::fprintf(stderr, "fwupgrader-cli records sync: not sent: %s\n",
                     DisplayText(strWhy).c_str());
    }
    const std::string strThere =
        sync.nThere > 0 ? " (" + std::to_string(sync.nThere) + " more were there already)" : "";
    std::printf("sent %d spooled record(s) to %s%s; %zu left in %s\n", sync.nSent,
                MaskedStore(o.strDb).c_str(), strThere.c_str(), left.size() + unreadable.size(),
                pSpool->Path().c_str());
    if (!bOk) {
        return Failed(o, strError);
    }
    return sync.notSent.empty() ? kExitOk : kExitStoreFailed;
}

// The longest record line import reads; a longer one is skipped unread, so a
// huge line costs no memory. The product's lines are far shorter.
constexpr std::streamsize kMaxImportLine = 64 * 1024;

// Reads the next line of at most kMaxImportLine bytes into strLine (without its
// line feed); bTooLong when it was longer (its rest is skipped). False at the end.
bool ReadImportLine(std::istream& file, std::string& strLine, bool& bTooLong) {
    static std::vector<char> buffer(static_cast<size_t>(kMaxImportLine) + 2);
    bTooLong = false;
    file.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    std::streamsize nRead = file.gcount();
    if (nRead == 0 && !file) {
        return false;
    }
    if (file.fail() && !file.eof()) {
        // The buffer filled before the line ended.
        file.clear();
        file.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        bTooLong = true;
        strLine.clear();
        return true;
    }
    if (!file.eof()) {
        --nRead; // the line feed
    }
    strLine.assign(buffer.data(), static_cast<size_t>(nRead));
    bTooLong = nRead > kMaxImportLine;
    return true;
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
    int nLine = 0, nRead = 0, nAdded = 0, nBad = 0;
    bool bTooLong = false;
    const auto refuse = [&](const std::string& strWhy) {
        std::fprintf(stderr, "%s:%d: refused: %s\n", o.strFile.c_str(), nLine,
                     DisplayText(strWhy).c_str());
        ++nBad;
    };
    const auto counts = [&] {
        return std::to_string(nRead) + " record(s) from " + o.strFile + " into " +
               MaskedStore(o.strDb) + " (" + std::to_string(nAdded) + " new, " +
               std::to_string(nRead - nAdded) + " there already)";
    };
    while (ReadImportLine(file, strLine, bTooLong)) {
        ++nLine;
        if (bTooLong) {
            refuse("longer than " + std::to_string(kMaxImportLine) + " bytes");
            continue;
        }
        if (strLine.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        UnitRecord record;
        if (!ParseUnitRecord(strLine, record, strError)) {
            refuse(strError);
            continue;
        }
        PutNote note;
        if (!pDb->PutRecord(record, note, strError)) {
            if (note.bRecordRefused) {
                refuse("the store refused it: " + strError);
                continue;
            }
            // Ids keep every record once: the same import again adds the rest.
            std::printf("imported %s before the store failed at line %d; running the same import "
                        "again completes it\n",
                        counts().c_str(), nLine);
            return Failed(o, strError);
        }
        ++nRead;
        nAdded += note.bAdded ? 1 : 0;
    }
    std::printf("imported %s%s\n", counts().c_str(),
                nBad > 0 ? ("; " + std::to_string(nBad) + " line(s) refused").c_str() : "");
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
