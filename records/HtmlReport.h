#pragma once
// The yield report as one self-contained HTML page: inline SVG charts (units per
// hour, pass/fail per day, failure causes, durations), tables per station, slot
// and image, and the failing units with their histories. No
// script, font or image from anywhere; legible when printed. Its size follows
// the aggregates (hours, days, stations, images), never the number of units.

#include "records/CRecordDb.h"

#include <string>

namespace fwup {

// strStore (password hidden) and strGenerated (a UTC time) head the page.
std::string FormatHtmlReport(const ReportData& report, const std::string& strStore,
                             const std::string& strGenerated);
// Text made safe for HTML content and attribute values; controls and bytes that
// are not UTF-8 as \xHH (see DisplayText).
std::string HtmlEscape(const std::string& strText);

} // namespace fwup
