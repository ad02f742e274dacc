#include "cli/CBenchTable.h"

#include "serial/Utf8Text.h"

namespace fwup::cli {

namespace {

constexpr auto kProgressRedraw = std::chrono::milliseconds(100);

const char* StageText(UpdateStage eStage) {
    switch (eStage) {
    case StageStart:
        return "detecting";
    case StageConnecting:
        return "connecting";
    case StageUpdating:
        return "boot loader";
    case StageProgress:
        return "download";
    case StageVerifying:
        return "verifying";
    case StageSuccess:
    case StageFailure:
        return "done";
    default:
        return "working";
    }
}

} // namespace

CBenchTable::CBenchTable(FILE* pOut) : m_pOut(pOut) {}

std::string CBenchTable::FormatRow(const std::string& strSlot, int nPort,
                                   const std::string& strSerial, const std::string& strStage,
                                   int nPercent, int nAttempt, const std::string& strResult) {
    char szRow[320];
    std::snprintf(szRow, sizeof szRow, "%-10.10s COM%-4d %-14.14s %-12.12s %3d%%  %-2d %s",
                  DisplayText(strSlot).c_str(), nPort, DisplayText(strSerial).c_str(),
                  strStage.c_str(), nPercent, nAttempt, DisplayText(strResult).c_str());
    return szRow;
}

void CBenchTable::Stage(const DeviceUnit& unit, UpdateStage eStage, const UpdateStatus& status) {
    const std::lock_guard lock(m_mutex);
    Row& row = m_rows[unit.nPort];
    if (eStage == StageStart) {
        row = Row{};
        row.strSlot = unit.strSlot.empty() ? "-" : unit.strSlot;
        row.nAttempt = unit.nAttempt;
    }
    if (status.optSerial) {
        row.strSerial = *status.optSerial;
    }
    const bool bStageChanged = row.strStage != StageText(eStage);
    row.strStage = StageText(eStage);
    if (eStage == StageProgress) {
        row.nPercent = status.nProgress;
    }
    Redraw(bStageChanged);
}

void CBenchTable::Done(const DeviceUnit& unit, const UpdateOutcome& outcome) {
    const std::lock_guard lock(m_mutex);
    Row& row = m_rows[unit.nPort];
    row.strStage = "remove it";
    // The first line of the text: the success text runs on with advice.
    const std::string strText = OutcomeText(outcome.eKind);
    row.strResult = strText.substr(0, strText.find('\n'));
    Redraw(true);
}

void CBenchTable::Removed(const DeviceUnit& unit) {
    const std::lock_guard lock(m_mutex);
    m_rows[unit.nPort].strStage = "removed";
    Redraw(true);
}

void CBenchTable::Footer(const std::string& strText) {
    const std::lock_guard lock(m_mutex);
    if (strText != m_strFooter) {
        m_strFooter = strText;
        Redraw(true);
    }
}

void CBenchTable::Redraw(bool bForce) {
    const auto tpNow = std::chrono::steady_clock::now();
    if (!bForce && tpNow - m_tpLastDraw < kProgressRedraw) {
        return;
    }
    m_tpLastDraw = tpNow;
    std::string strOut;
    if (m_nLinesDrawn > 0) {
        strOut += "\x1b[" + std::to_string(m_nLinesDrawn) + "A"; // back to the table's top
    }
    char szHeader[160];
    std::snprintf(szHeader, sizeof szHeader, "%-10s %-7s %-14s %-12s %4s  %-2s %s", "slot", "port",
                  "serial", "stage", "done", "#", "result");
    strOut += "\x1b[2K";
    strOut += szHeader;
    strOut += "\n";
    for (const auto& [nPort, row] : m_rows) {
        strOut += "\x1b[2K" +
                  FormatRow(row.strSlot, nPort, row.strSerial, row.strStage, row.nPercent,
                            row.nAttempt, row.strResult) +
                  "\n";
    }
    strOut += "\x1b[2K" + m_strFooter + "\n";
    m_nLinesDrawn = static_cast<int>(m_rows.size()) + 2;
    std::fputs(strOut.c_str(), m_pOut);
    std::fflush(m_pOut);
}

} // namespace fwup::cli
