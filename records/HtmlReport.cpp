#include "records/HtmlReport.h"

#include "serial/Utf8Text.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <vector>

namespace fwup {

namespace {

constexpr int kDaysShown = 31;
constexpr size_t kSlotsShown = 200;

std::string Fixed(double dValue, int nDecimals) {
    char szText[48];
    std::snprintf(szText, sizeof szText, "%.*f", nDecimals, dValue);
    return szText;
}

std::string Percent(double dShare) {
    return Fixed(dShare * 100.0, 1) + " %";
}

struct Series {
    std::string strName;
    std::string strColor;
    std::vector<int64_t> values;
};

// A bar chart (stacked when there are several series) with a label under every
// nLabelEvery-th bar. Sized in view-box units, so it scales to the page.
std::string BarChart(const std::string& strTitle, const std::vector<std::string>& labels,
                     const std::vector<Series>& series, size_t nLabelEvery) {
    const double dWidth = 720, dHeight = 240, dLeft = 48, dBottom = 56, dTop = 16;
    int64_t nMax = 1;
    for (size_t i = 0; i < labels.size(); ++i) {
        int64_t nSum = 0;
        for (const Series& s : series) {
            nSum += s.values[i];
        }
        nMax = std::max(nMax, nSum);
    }
    const double dPlotWidth = dWidth - dLeft - 8, dPlotHeight = dHeight - dTop - dBottom;
    const double dStep = labels.empty() ? dPlotWidth : dPlotWidth / labels.size();
    std::string strSvg = "<figure><svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " +
                         Fixed(dWidth, 0) + " " + Fixed(dHeight, 0) +
                         "\" role=\"img\" aria-label=\"" + HtmlEscape(strTitle) + "\">\n";
    // The value axis: zero and the largest bar.
    for (const int64_t nTick : {int64_t{0}, nMax}) {
        const double dY = dTop + dPlotHeight * (1.0 - static_cast<double>(nTick) / nMax);
        strSvg += "<line x1=\"" + Fixed(dLeft, 0) + "\" y1=\"" + Fixed(dY, 1) + "\" x2=\"" +
                  Fixed(dWidth - 8, 0) + "\" y2=\"" + Fixed(dY, 1) +
                  "\" stroke=\"#999\" stroke-width=\"0.5\"/><text x=\"" + Fixed(dLeft - 4, 0) +
                  "\" y=\"" + Fixed(dY + 4, 1) + "\" text-anchor=\"end\">" + std::to_string(nTick) +
                  "</text>\n";
    }
    for (size_t i = 0; i < labels.size(); ++i) {
        double dBase = dTop + dPlotHeight;
        const double dX = dLeft + dStep * i + dStep * 0.1;
        for (const Series& s : series) {
            const double dBar = dPlotHeight * static_cast<double>(s.values[i]) / nMax;
            if (s.values[i] > 0) {
                strSvg += "<rect x=\"" + Fixed(dX, 1) + "\" y=\"" + Fixed(dBase - dBar, 1) +
                          "\" width=\"" + Fixed(dStep * 0.8, 1) + "\" height=\"" + Fixed(dBar, 1) +
                          "\" fill=\"" + s.strColor + "\"><title>" + HtmlEscape(labels[i]) + ": " +
                          std::to_string(s.values[i]) + " " + HtmlEscape(s.strName) +
                          "</title></rect>\n";
            }
            dBase -= dBar;
        }
        if (i % nLabelEvery == 0) {
            const double dLabelX = dX + dStep * 0.4, dLabelY = dTop + dPlotHeight + 12;
            strSvg += "<text x=\"" + Fixed(dLabelX, 1) + "\" y=\"" + Fixed(dLabelY, 1) +
                      "\" text-anchor=\"end\" transform=\"rotate(-40 " + Fixed(dLabelX, 1) + " " +
                      Fixed(dLabelY, 1) + ")\">" + HtmlEscape(labels[i]) + "</text>\n";
        }
    }
    strSvg += "</svg><figcaption>" + HtmlEscape(strTitle);
    if (series.size() > 1) {
        for (const Series& s : series) {
            strSvg += " <span class=\"key\" style=\"background:" + s.strColor + "\"></span> " +
                      HtmlEscape(s.strName);
        }
    }
    return strSvg + "</figcaption></figure>\n";
}

// Failed attempts per kind of cause, most first, as horizontal bars with the
// cumulative share at each bar's end: a Pareto chart that reads on paper too.
std::string ParetoChart(const std::vector<std::pair<std::string, int64_t>>& causes) {
    int64_t nTotal = 0, nMax = 1;
    for (const auto& [strCause, nCount] : causes) {
        nTotal += nCount;
        nMax = std::max(nMax, nCount);
    }
    const double dWidth = 720, dRow = 18, dLabel = 360, dBarMax = 260;
    const double dHeight = dRow * static_cast<double>(causes.size()) + 8;
    std::string strSvg = "<figure><svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " +
                         Fixed(dWidth, 0) + " " + Fixed(dHeight, 0) +
                         "\" role=\"img\" aria-label=\"Failed attempts by cause\">\n";
    int64_t nSoFar = 0;
    for (size_t i = 0; i < causes.size(); ++i) {
        const auto& [strCause, nCount] = causes[i];
        nSoFar += nCount;
        const double dY = 4 + dRow * static_cast<double>(i);
        const double dBar = dBarMax * static_cast<double>(nCount) / static_cast<double>(nMax);
        // Long causes are cut for the label; the whole text is the bar's tooltip.
        const std::string strLabel =
            strCause.size() > 64 ? strCause.substr(0, 61) + "..." : strCause;
        strSvg += "<text x=\"" + Fixed(dLabel - 6, 0) + "\" y=\"" + Fixed(dY + 12, 1) +
                  "\" text-anchor=\"end\">" + HtmlEscape(strLabel) + "</text><rect x=\"" +
                  Fixed(dLabel, 0) + "\" y=\"" + Fixed(dY + 2, 1) + "\" width=\"" +
                  Fixed(std::max(dBar, 1.0), 1) + "\" height=\"" + Fixed(dRow - 4, 1) +
                  "\" fill=\"#c0392b\"><title>" + HtmlEscape(strCause) + ": " +
                  std::to_string(nCount) + "</title></rect><text x=\"" +
                  Fixed(dLabel + dBar + 4, 1) + "\" y=\"" + Fixed(dY + 12, 1) + "\">" +
                  std::to_string(nCount) + " (" +
                  Percent(static_cast<double>(nSoFar) / static_cast<double>(nTotal)) +
                  " so far)</text>\n";
    }
    return strSvg + "</svg><figcaption>Failed attempts by cause, most first, with the share of all "
                    "failed attempts up to each bar (numbers in a cause shown as #)</figcaption>"
                    "</figure>\n";
}

// An anchor name for a serial's history: its bytes in hex, so any serial gives a
// valid, unique id.
std::string HistoryAnchor(const std::string& strSerial) {
    std::string strId = "unit-";
    for (const unsigned char c : strSerial) {
        static const char kHex[] = "0123456789abcdef";
        strId += kHex[c >> 4];
        strId += kHex[c & 15];
    }
    return strId;
}

// The failing units (their last attempt failed), each linked to its history of
// every attempt.
std::string FailingUnits(const std::vector<ReportData::UnitHistory>& units) {
    if (units.empty()) {
        return "<p>No unit's last attempt failed.</p>\n";
    }
    std::string strHtml = "<table>\n<thead><tr><th>serial</th><th>attempts</th><th>last "
                          "attempt</th><th>station / slot</th><th>result</th><th>cause</th>"
                          "</tr></thead>\n<tbody>\n";
    std::string strHistories;
    for (const ReportData::UnitHistory& unit : units) {
        if (unit.attempts.empty()) {
            continue;
        }
        const UnitRecord& last = unit.attempts.back();
        const std::string strAnchor = HistoryAnchor(unit.strSerial);
        strHtml += "<tr><td><a href=\"#" + strAnchor + "\">" + HtmlEscape(unit.strSerial) +
                   "</a></td><td>" + std::to_string(unit.attempts.size()) + "</td><td>" +
                   HtmlEscape(last.strTime) + "</td><td>" + HtmlEscape(last.strStation) + " / " +
                   HtmlEscape(last.strSlot) + "</td><td>" + HtmlEscape(last.strResult) +
                   "</td><td>" + HtmlEscape(last.optCause.value_or("")) + "</td></tr>\n";
        strHistories += "<h3 id=\"" + strAnchor + "\">" + HtmlEscape(unit.strSerial) +
                        "</h3>\n<table>\n<thead><tr><th>time</th><th>station / slot</th>"
                        "<th>attempt</th><th>version before</th><th>version after</th>"
                        "<th>result</th><th>cause</th><th>seconds</th></tr></thead>\n<tbody>\n";
        for (const UnitRecord& r : unit.attempts) {
            strHistories +=
                "<tr><td>" + HtmlEscape(r.strTime) + "</td><td>" + HtmlEscape(r.strStation) +
                " / " + HtmlEscape(r.strSlot) + "</td><td>" + std::to_string(r.nAttempt) +
                "</td><td>" + HtmlEscape(r.optVersion.value_or("-")) + "</td><td>" +
                HtmlEscape(r.optVersionAfter.value_or("-")) + "</td><td>" +
                HtmlEscape(r.strResult) + "</td><td>" + HtmlEscape(r.optCause.value_or("")) +
                "</td><td>" + Fixed(r.dSeconds, 1) + "</td></tr>\n";
        }
        strHistories += "</tbody>\n</table>\n";
    }
    return strHtml + "</tbody>\n</table>\n<h2>Histories of the failing units</h2>\n" + strHistories;
}

// One row per key; fnFlag, when given, marks a row (its reason shown in the key cell).
std::string SummaryTable(const std::string& strHead, const std::vector<SummaryRow>& rows,
                         bool bCode,
                         const std::function<std::string(const SummaryRow&)>& fnFlag = {}) {
    std::string strHtml =
        "<table>\n<thead><tr><th>" + HtmlEscape(strHead) +
        "</th><th>units</th><th>attempts</th><th>passed</th><th>failed</th><th>stopped</th>"
        "<th>current</th><th>first-pass yield</th><th>final yield</th><th>median s</th>"
        "<th>95th pct. s</th><th>failed median s</th></tr></thead>\n<tbody>\n";
    for (const SummaryRow& r : rows) {
        std::string strKey = r.strKey.empty() ? "(none)" : HtmlEscape(r.strKey);
        const std::string strFlag = fnFlag ? fnFlag(r) : "";
        if (!strFlag.empty()) {
            strKey = "<strong>" + strKey + "</strong> <span class=\"flag\">" + HtmlEscape(strFlag) +
                     "</span>";
        }
        std::string strUnits = std::to_string(r.nSerials);
        if (r.nNoSerial > 0) {
            strUnits += " + " + std::to_string(r.nNoSerial) + " without serial";
        }
        strHtml +=
            "<tr" + std::string(strFlag.empty() ? "" : " class=\"flagged\"") + "><td" +
            std::string(bCode ? " class=\"code\"" : "") + ">" + strKey + "</td><td>" + strUnits +
            "</td><td>" + std::to_string(r.nAttempts) + "</td><td>" + std::to_string(r.nPassed) +
            "</td><td>" + std::to_string(r.Failed()) + "</td><td>" + std::to_string(r.nStopped) +
            "</td><td>" + std::to_string(r.nCurrent) + "</td><td>" + Percent(r.FirstPassYield()) +
            "</td><td>" + Percent(r.FinalYield()) + "</td><td>" + Fixed(r.dMedianSeconds, 1) +
            "</td><td>" + Fixed(r.dP95Seconds, 1) + "</td><td>" +
            (r.Failed() > 0 ? Fixed(r.dFailedMedianSeconds, 1) : "-") + "</td></tr>\n";
    }
    return strHtml + "</tbody>\n</table>\n";
}

} // namespace

std::string HtmlEscape(const std::string& strText) {
    std::string strOut;
    // Stored texts may hold controls and bytes that are not UTF-8: shown as \xHH,
    // so that the page stays valid UTF-8.
    for (const char c : DisplayText(strText)) {
        switch (c) {
        case '&':
            strOut += "&amp;";
            break;
        case '<':
            strOut += "&lt;";
            break;
        case '>':
            strOut += "&gt;";
            break;
        case '"':
            strOut += "&quot;";
            break;
        case '\'':
            strOut += "&#39;";
            break;
        default:
            strOut += c;
        }
    }
    return strOut;
}

std::string FormatHtmlReport(const ReportData& report, const std::string& strStore,
                             const std::string& strGenerated) {
    const RecordSummary& summary = report.summary;
    std::string strHtml =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>Unit records: yield report</title>\n<style>\n"
        "body{font-family:sans-serif;color:#000;background:#fff;margin:1.5em;max-width:60em}\n"
        "table{border-collapse:collapse;margin:0.5em 0 1.5em}\n"
        "th,td{border:1px solid #888;padding:0.2em 0.6em;text-align:right}\n"
        "th:first-child,td:first-child{text-align:left}\n"
        ".code{font-family:monospace;font-size:0.8em;word-break:break-all}\n"
        "figure{margin:0 0 1.5em}svg{width:100%;height:auto;font-size:10px}\n"
        ".key{display:inline-block;width:0.8em;height:0.8em;border:1px solid #000}\n"
        ".flagged td{background:#fde9d9}.flag{font-weight:normal;font-size:0.85em}\n"
        "@media print{body{margin:0;max-width:none}figure,table{break-inside:avoid}"
        "*{-webkit-print-color-adjust:exact;print-color-adjust:exact}}\n"
        "</style>\n</head>\n<body>\n<h1>Unit records: yield report</h1>\n<p>Store: " +
        HtmlEscape(strStore) + "<br>Made: " + HtmlEscape(strGenerated) + "</p>\n";
    SummaryRow total = summary.total;
    total.strKey = "all units";
    strHtml += "<h2>All units</h2>\n" + SummaryTable("", {total}, false) +
               "<p>Units are serial numbers (attempts whose reader told none count apart). "
               "First-pass yield: units whose first attempt passed; final yield: units whose "
               "last attempt passed. Stopped and current records are neither passed nor failed "
               "and stay out of both. Durations are of passed attempts unless named failed, "
               "counted in tenths of a second.</p>\n";

    std::vector<std::string> hourLabels;
    Series hourly{"units", "#3366aa", {}};
    for (const auto& [strHour, nCount] : report.unitsPerHour) {
        hourLabels.push_back(strHour.substr(5, 5) + " " + strHour.substr(11, 2) + "h");
        hourly.values.push_back(nCount);
    }
    strHtml += "<h2>Units per hour</h2>\n" +
               BarChart("Units per hour, the last 48 hours up to the last unit (UTC)", hourLabels,
                        {hourly}, 4);

    const size_t nFirstDay =
        summary.byDay.size() > kDaysShown ? summary.byDay.size() - kDaysShown : 0;
    std::vector<std::string> dayLabels;
    Series passed{"passed", "#2e8b57", {}}, failed{"failed", "#c0392b", {}};
    for (size_t i = nFirstDay; i < summary.byDay.size(); ++i) {
        dayLabels.push_back(summary.byDay[i].strKey);
        passed.values.push_back(summary.byDay[i].nPassed);
        failed.values.push_back(summary.byDay[i].Failed());
    }
    strHtml += "<h2>Pass and fail per day</h2>\n" +
               BarChart("Units passed and failed per day, the last " + std::to_string(kDaysShown) +
                            " days with units (UTC)",
                        dayLabels, {passed, failed}, 1);

    std::vector<std::string> binLabels;
    for (size_t i = 0; i < report.histogram.size(); ++i) {
        binLabels.push_back(Fixed(report.dHistogramFrom + report.dHistogramStep * i, 1) + " s");
    }
    strHtml += "<h2>Failure causes</h2>\n" + (report.causes.empty()
                                                  ? std::string("<p>No failed attempt.</p>\n")
                                                  : ParetoChart(report.causes));
    strHtml += "<h2>Durations</h2>\n" +
               BarChart("Units by the duration of their job (seconds, bins from the shortest to "
                        "the longest)",
                        binLabels, {Series{"units", "#7b68ee", report.histogram}}, 2);

    strHtml += "<h2>By station</h2>\n" + SummaryTable("station", summary.byStation, false);
    // Each slot beside its station's yield: a slot far below it points at a fixture.
    std::map<std::string, const SummaryRow*> stations;
    for (const SummaryRow& r : summary.byStation) {
        stations[r.strKey] = &r;
    }
    // The flag is decided on the stored key; the table shows "STATION / SLOT".
    std::vector<std::pair<SummaryRow, std::string>> slots;
    for (const SummaryRow& r : summary.bySlot) {
        const auto [strStation, strSlot] = SlotKeyParts(r.strKey);
        const auto it = stations.find(strStation);
        SummaryRow shown = r;
        shown.strKey = strStation + " / " + strSlot;
        slots.emplace_back(shown,
                           it != stations.end() && IsSlotFarBelow(r, *it->second)
                               ? "below its station (" + Percent(it->second->FirstPassYield()) + ")"
                               : std::string());
    }
    // A factory has thousands: the flagged ones first, then by yield, lowest first.
    std::stable_sort(slots.begin(), slots.end(), [](const auto& a, const auto& b) {
        return std::make_pair(a.second.empty(), a.first.FirstPassYield()) <
               std::make_pair(b.second.empty(), b.first.FirstPassYield());
    });
    const size_t nSlots = slots.size();
    slots.resize(std::min(nSlots, kSlotsShown));
    std::vector<SummaryRow> slotRows;
    std::map<std::string, std::string> flags;
    for (const auto& [row, strFlag] : slots) {
        slotRows.push_back(row);
        flags[row.strKey] = strFlag;
    }
    strHtml +=
        "<h2>By slot</h2>\n<p>A slot whose first-pass yield is " + Fixed(kSlotFlagPoints, 0) +
        " points or more below its station's (with at least " + std::to_string(kSlotFlagSerials) +
        " units) is flagged: check its cable and fixture. Flagged slots first, then the "
        "lowest yields" +
        (nSlots > kSlotsShown
             ? "; " + std::to_string(kSlotsShown) + " of " + std::to_string(nSlots) + " slots shown"
             : std::string()) +
        ".</p>\n" + SummaryTable("station / slot", slotRows, false, [&](const SummaryRow& r) {
            return flags[r.strKey];
        });
    strHtml += "<h2>By image</h2>\n" + SummaryTable("image SHA-256", summary.byImage, true);
    strHtml += "<h2>Failing units</h2>\n<p>The latest " +
               std::to_string(CRecordDb::kFailingUnitsShown) +
               " units at most whose last attempt failed; each serial leads to its history.</p>\n" +
               FailingUnits(report.failingUnits);
    return strHtml + "</body>\n</html>\n";
}

} // namespace fwup
