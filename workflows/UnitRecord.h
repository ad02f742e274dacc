#pragma once
// The record of one finished unit, as benches keep it for traceability: which
// reader got which image with what result. One JSON object per line.

#include "device/UpdateOutcome.h"
#include "device/UpdateRequest.h"
#include "workflows/DeviceUnit.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace fwup {

struct UnitRecord {
    std::string strTime;                   // end of the job, ISO 8601 UTC
    std::string strPort;                   // listed name
    std::string strConnector;              // USB path plus interface
    std::optional<std::string> optSerial;  // none when the device told none
    std::optional<std::string> optVersion; // application version before the update
    std::optional<std::string> optBoot;    // boot loader version "v.v.v.v"
    std::string strFile;                   // base name of the image file
    int64_t nSize = 0;                     // bytes of the file
    std::optional<std::string> optSha256;  // of the image bytes as sent; none when none loaded
    std::string strResult;                 // the outcome's text
    int nExitCode = 0;                     // the outcome's exit code
    double dSeconds = 0;                   // duration of the job
};

// The record of a job that ended with outcome on unit; request as the job left it.
UnitRecord MakeUnitRecord(const DeviceUnit& unit, const UpdateOutcome& outcome,
                          const UpdateRequest& request, std::time_t nEndTime, double dSeconds);
// One JSON object with exactly the record's keys, ending in a line feed.
std::string FormatUnitRecord(const UnitRecord& record);
// "2026-12-08T06:10:00Z".
std::string IsoUtcTime(std::time_t nTime);

} // namespace fwup
