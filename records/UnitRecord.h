#pragma once
// The record of one finished unit, as benches keep it for traceability: which
// reader got which image with what result, on which station, at which attempt.
// One JSON object per line in a JSON-lines store; one row of `units` in a database.

#include "device/DeviceUnit.h"
#include "device/UpdateOutcome.h"
#include "device/UpdateRequest.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace fwup {

// Each member is described once, in kUnitRecordFields (UnitRecordFields.h): a new
// member needs its row there.
struct UnitRecord {
    std::string strTime;                        // end of the job, ISO 8601 UTC
    std::string strPort;                        // listed name
    std::string strConnector;                   // USB path plus interface
    std::optional<std::string> optSerial;       // none when the device told none
    std::optional<std::string> optVersion;      // application version before the update (the
                                                // key "version", kept from the first records)
    std::optional<std::string> optBoot;         // boot loader version "v.v.v.v"
    std::string strFile;                        // base name of the image file
    int64_t nSize = 0;                          // bytes of the file
    std::optional<std::string> optSha256;       // of the image bytes as sent; none when none loaded
    std::string strResult;                      // the outcome's text
    int nExitCode = 0;                          // the outcome's exit code
    double dSeconds = 0;                        // duration of the job
    std::string strId;                          // UUID, the record's key in every store
    std::string strStation;                     // the bench PC (--station, default its host name)
    std::string strSlot;                        // the bench slot's label (default the connector)
    int nAttempt = 1;                           // 1, or the how-many-th job on this serial
    std::optional<std::string> optImageVersion; // version=V its verified signature vouches for
    std::optional<std::string> optImageSigner;  // the key id of that signature
    std::optional<std::string> optVersionAfter; // what the reader reported after its download
    std::optional<std::string> optVerified;     // "yes", "no" or "not checked"; none: older record
    std::optional<std::string> optCause;   // the outcome's "cause:" line; none when it has none
    std::optional<std::string> optOutcome; // OutcomeCode: "passed", "stopped", "current", ...

    bool operator==(const UnitRecord&) const = default;
};

// The record of a job that ended with outcome on unit; request as the job left it.
// Gets a fresh random id; slot is the unit's (default its connector), attempt the
// unit's; station is left to the caller.
UnitRecord MakeUnitRecord(const DeviceUnit& unit, const UpdateOutcome& outcome,
                          const UpdateRequest& request, std::time_t nEndTime, double dSeconds);
// One JSON object, ending in a line feed: the twelve original keys in their order,
// then id, station, slot and attempt; then image_version and image_signer
// when the image had a verified signature; then version_after, verified, cause
// and outcome, each when it has a value.
std::string FormatUnitRecord(const UnitRecord& record);
// Reads one line as FormatUnitRecord writes it (also an older line with only the
// twelve keys: its id is then derived from the line's text, so reading it twice
// gives the same id). False with strError on a malformed line.
bool ParseUnitRecord(const std::string& strLine, UnitRecord& record, std::string& strError);
// "2026-12-08T06:10:00Z".
std::string IsoUtcTime(std::time_t nTime);
// A canonical "YYYY-MM-DDTHH:MM:SSZ" for "YYYY-MM-DD", "YYYY-MM-DDTHH:MM" or
// "YYYY-MM-DDTHH:MM:SS" with an optional Z (times are UTC); empty when malformed.
std::string CanonicalUtcTime(const std::string& strText);
// A random version-4 UUID, lower-case hex with dashes.
std::string NewRecordId();
// A UUID derived from strText by SHA-256: equal texts, equal ids.
std::string DerivedRecordId(const std::string& strText);

} // namespace fwup
