#pragma once
// CRecordDb: unit records in a SQL database (SQLite or PostgreSQL): the table
// `units` keyed by the record id (its columns from the record's field table), its
// indexes and `schema_version`, created or migrated when older; the record store's insert (an id
// already there is skipped); and the queries of `fwupgrader-cli records`, each computed in the
// database from small aggregate tables that a trigger keeps up to date in each insert's
// transaction.

#include "records/IRecordStore.h"
#include "records/ISqlConnection.h"
#include "records/UnitRecord.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fwup {

struct UnitRecordField;

struct RecordFilter {
    std::optional<std::string> optSerial;
    std::optional<std::string> optSince; // canonical UTC times, inclusive
    std::optional<std::string> optUntil;
    std::optional<bool> optPassed; // --result pass|fail
    std::optional<std::string> optStation;
    std::optional<std::string> optSlot;
};

// One line of a summary: all records, or those of one station, image, day or
// slot. Stopped and current records are neither passed nor failed: counted
// apart, out of every yield and duration.
struct SummaryRow {
    // The station, image SHA-256, day, or slot as "STATION\x1fSLOT" (see
    // SlotKeyParts); empty for all.
    std::string strKey;
    int64_t nAttempts = 0;    // passed and failed records (attempts)
    int64_t nPassed = 0;      // of them, passed
    int64_t nSerials = 0;     // units: distinct serial numbers among the attempts
    int64_t nNoSerial = 0;    // attempts whose unit told no serial: units of their own
    int64_t nFirstPassed = 0; // serials whose first attempt passed
    int64_t nLastPassed = 0;  // serials whose last attempt passed
    int64_t nStopped = 0;     // records stopped on request
    int64_t nCurrent = 0;     // records of readers that already ran the expected version
    // Nearest rank over durations counted in tenths of a second: the lower edge
    // of the tenth holding the rank (so at most 0.1 s below the exact figure).
    double dMedianSeconds = 0;       // of passed attempts
    double dP95Seconds = 0;          // of passed attempts
    double dFailedMedianSeconds = 0; // of failed attempts
    int64_t Failed() const { return nAttempts - nPassed; }
    double FirstPassYield() const {
        return nSerials == 0 ? 0.0 : static_cast<double>(nFirstPassed) / nSerials;
    }
    double FinalYield() const {
        return nSerials == 0 ? 0.0 : static_cast<double>(nLastPassed) / nSerials;
    }
};

// A slot row's key split into its station and slot.
std::pair<std::string, std::string> SlotKeyParts(const std::string& strKey);
// Slots whose first-pass yield lies kSlotFlagPoints or more below their station's,
// with at least kSlotFlagSerials units: worth a look at the fixture.
inline constexpr double kSlotFlagPoints = 10.0;
inline constexpr int64_t kSlotFlagSerials = 5;
bool IsSlotFarBelow(const SummaryRow& slot, const SummaryRow& station);

struct RecordSummary {
    SummaryRow total;
    std::vector<SummaryRow> byStation, byImage, byDay, bySlot;
};

// What the HTML report draws besides the summary: counts, never rows.
struct ReportData {
    RecordSummary summary;
    std::vector<std::pair<std::string, int64_t>> unitsPerHour; // last 48 hours, "YYYY-MM-DDTHH"
    double dHistogramFrom = 0, dHistogramStep = 0;             // seconds
    std::vector<int64_t> histogram;                            // units per duration bin
    // Failed attempts per kind of cause ("Communication Error: no reply at block #
    // within # ms; ..."), most first; the rest summed in one "other causes" row.
    std::vector<std::pair<std::string, int64_t>> causes;
    // The latest units whose last attempt failed, each with every attempt it had.
    struct UnitHistory {
        std::string strSerial;
        std::vector<UnitRecord> attempts; // oldest first
    };
    std::vector<UnitHistory> failingUnits;
};

class CRecordDb : public IRecordStore {
public:
    // The schema's versions, each made from the one before by MigrationTo (a new
    // field's column needs the next one):
    // 1: the units;
    // 2: their aggregates, kept by a trigger on each insert;
    // 3: the image's signed version and signer;
    // 4: the read-back (version after, verified), the cause and the outcome's
    //    word; the aggregates made anew: stopped and current records apart, the
    //    last attempt beside the first, slots, durations in tenths of a second.
    static constexpr int kSchemaVersion = 4;
    // The oldest version whose aggregates the queries read.
    static constexpr int kAggregateVersion = 4;
    static constexpr int kHistogramBins = 20;
    static constexpr int kCausesShown = 12;       // the Pareto's bars, the rest as one
    static constexpr int kFailingUnitsShown = 50; // the report's failing units with histories
    // PostgreSQL writers' shards of the counting tables (by backend process), and
    // how many records a connection writes between two folds of its shard.
    static constexpr int kShards = 64;
    static constexpr int kFoldEvery = 256;

    // Takes the connection; strName (password hidden) names the store in messages.
    CRecordDb(std::unique_ptr<ISqlConnection> pConnection, std::string strName);

    // Creates the tables when missing; refuses a store with a newer schema. Put
    // calls it until it succeeds once. False with strError.
    bool Prepare(std::string& strError);
    // For the queries only, instead of Prepare: checks that the store holds this
    // product's tables in a schema it reads, creating and changing nothing. False
    // with strError (a store of another program, or of a newer schema).
    bool PrepareToRead(std::string& strError);
    // One record, one transaction; an id already stored is left as it is.
    // With PostgreSQL, the first record and every kFoldEvery-th one also fold
    // this connection's shard (FoldShard); a fold that fails costs nothing.
    bool PutRecord(const UnitRecord& record, PutNote& note, std::string& strError) override;
    // PostgreSQL: moves the counts of shard nShard (1..kShards; whatever
    // connections wrote them) into shard 0, in one transaction, one fold at a
    // time; exact while writers go on. SQLite: nothing to do. False with strError.
    bool FoldShard(int nShard, std::string& strError);

    bool List(const RecordFilter& filter, std::vector<UnitRecord>& records, std::string& strError);
    bool Summarize(RecordSummary& summary, std::string& strError);
    bool Report(ReportData& report, std::string& strError);

private:
    // The summary, and with pReport also the report's histogram from the same counts.
    bool Aggregate(RecordSummary& summary, ReportData* pReport, std::string& strError);
    // A column as the select reads it (a time as "…Z" text) and as the table defines it.
    std::string ColumnText(const UnitRecordField& field) const;
    std::string ColumnDefinition(const UnitRecordField& field) const;
    std::string DayOf(const std::string& strTime) const;  // a time's UTC "YYYY-MM-DD"
    std::string HourOf(const std::string& strTime) const; // a time's UTC "YYYY-MM-DDTHH"
    // The groupings of the aggregates: all, station, image, day, slot.
    static constexpr int kGroups = 5;
    // The key of a row (strRow: "u." or "NEW.") in group 0 (all), 1 (station),
    // 2 (image), 3 (day) or 4 (slot).
    std::string GroupKey(int nGroup, const std::string& strRow) const;
    // PostgreSQL: the shard of the connection's backend, as an expression.
    static std::string OwnShard();
    // A failed attempt's kind of cause (see units_causes).
    static std::string CauseKind(const std::string& strRow);
    // Statements that create the aggregate tables, fill them from the units
    // there and add the trigger that keeps them.
    std::vector<std::string> AggregateSchema() const;
    // The schema's history: the statements that take a store from version
    // nVersion - 1 to nVersion. Prepare runs each step a store lacks, in order, in
    // one transaction. This is where a column is added: 1 creates `units` with the
    // fields of version 1, each later version adds the columns (and indexes) of
    // the fields whose row names it.
    std::vector<std::string> MigrationTo(int nVersion) const;

    std::unique_ptr<ISqlConnection> m_pConnection;
    std::string m_strName;
    bool m_bPrepared = false;
    int64_t m_nVersion = 0;    // the store's schema version, once prepared
    int64_t m_nPutsToFold = 0; // records this connection writes before it folds
};

} // namespace fwup
