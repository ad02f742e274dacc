#include "cli/CConsoleReporter.h"

#include "serial/Utf8Text.h"

namespace fwup::cli {

namespace {

const char* StageName(int nStage) {
    static const char* const names[] = {"start",    "success",  "message", "connecting",
                                        "updating", "progress", "failure", "verifying"};
    return nStage >= 0 && nStage <= 7 ? names[nStage] : "unknown";
}

std::string Quoted(const std::string& strText) {
    // Appended piece by piece: gcc 12 at -O3 misreads a chain starting with a
    // literal as an overlapping copy (-Wrestrict).
    std::string strJson = "\"";
    strJson += JsonEscape(strText);
    strJson += '"';
    return strJson;
}

} // namespace

CConsoleReporter::CConsoleReporter(FILE* pOut, bool bJson, bool bTerminal)
    : m_pOut(pOut), m_bJson(bJson), m_bTerminal(bTerminal) {}

void CConsoleReporter::EndProgressBar() {
    if (m_bBarShown) {
        std::fputc('\n', m_pOut);
        m_bBarShown = false;
    }
}

void CConsoleReporter::PutLine(const std::string& strText, const DeviceUnit* pUnit) {
    EndProgressBar();
    if (m_bJson) {
        std::fprintf(m_pOut, "{\"event\":\"status\",\"message\":%s", Quoted(strText).c_str());
        if (pUnit != nullptr) {
            std::fprintf(m_pOut, ",\"port\":%s", Quoted(pUnit->strPortName).c_str());
        }
        std::fputs("}\n", m_pOut);
    } else if (pUnit != nullptr) {
        // Outside text (serial numbers, port names, process names) may carry
        // control characters: one call prints one line that moves no cursor.
        std::fprintf(m_pOut, "[COM%d] %s\n", pUnit->nPort, DisplayText(strText).c_str());
    } else {
        std::fprintf(m_pOut, "%s\n", DisplayText(strText).c_str());
    }
    std::fflush(m_pOut);
}

void CConsoleReporter::Line(const std::string& strText, const DeviceUnit* pUnit) {
    const std::lock_guard lock(m_mutex);
    PutLine(strText, pUnit);
}

void CConsoleReporter::Retry(const DeviceUnit& unit, const UpdateOutcome& previous, bool bTagUnit) {
    const std::lock_guard lock(m_mutex);
    const std::string strAfter = OutcomeText(previous.eKind);
    if (m_bJson) {
        EndProgressBar();
        std::fprintf(m_pOut, "{\"event\":\"retry\",\"attempt\":%d,\"after\":%s", unit.nAttempt,
                     Quoted(strAfter).c_str());
        if (bTagUnit) {
            std::fprintf(m_pOut, ",\"port\":%s", Quoted(unit.strPortName).c_str());
            if (!unit.strSlot.empty()) {
                std::fprintf(m_pOut, ",\"slot\":%s", Quoted(unit.strSlot).c_str());
            }
        }
        std::fputs("}\n", m_pOut);
        std::fflush(m_pOut);
        return;
    }
    PutLine("retrying (attempt " + std::to_string(unit.nAttempt) + ") after: " + strAfter,
            bTagUnit ? &unit : nullptr);
}

void CConsoleReporter::Report(int nStage, const UpdateStatus& status, const DeviceUnit* pUnit) {
    const std::lock_guard lock(m_mutex);
    int& nLastPercent = m_lastPercent[pUnit != nullptr ? pUnit->nPort : 0];
    if (nStage == StageStart) {
        nLastPercent = -1;
    }
    const std::string strSerial = status.optSerial.value_or("unknown");
    if (m_bJson) {
        std::fprintf(m_pOut, "{\"stage\":%d,\"name\":\"%s\"", nStage, StageName(nStage));
        if (pUnit != nullptr) {
            std::fprintf(m_pOut, ",\"port\":%s,\"serial\":%s", Quoted(pUnit->strPortName).c_str(),
                         JsonStringOrNull(status.optSerial).c_str());
            if (!pUnit->strSlot.empty()) {
                std::fprintf(m_pOut, ",\"slot\":%s", Quoted(pUnit->strSlot).c_str());
            }
            std::fprintf(m_pOut, ",\"attempt\":%d", pUnit->nAttempt);
        }
        switch (nStage) {
        case StageSuccess:
        case StageMessage:
        case StageConnecting:
        case StageVerifying:
        case StageFailure:
            std::fprintf(m_pOut, ",\"message\":%s", Quoted(status.strMessage).c_str());
            if (nStage == StageFailure && !status.strCause.empty()) {
                std::fprintf(m_pOut, ",\"cause\":%s", Quoted(status.strCause).c_str());
            }
            break;
        case StageUpdating:
            if (pUnit == nullptr) {
                std::fprintf(m_pOut, ",\"serial\":%s", Quoted(strSerial).c_str());
            }
            std::fprintf(m_pOut, ",\"file\":{\"name\":%s,\"size\":%d,\"date\":%s}",
                         Quoted(status.strFileName).c_str(), status.nFileSize,
                         Quoted(status.strFileDate).c_str());
            break;
        case StageProgress:
            std::fprintf(m_pOut, ",\"progress\":%d", status.nProgress);
            break;
        default:
            break;
        }
        std::fputs("}\n", m_pOut);
        std::fflush(m_pOut);
        return;
    }
    switch (nStage) {
    case StageSuccess:
        // The success text is our own and has two lines.
        for (size_t nStart = 0; nStart <= status.strMessage.size();) {
            const size_t nEnd = status.strMessage.find('\n', nStart);
            PutLine(status.strMessage.substr(nStart, nEnd - nStart), pUnit);
            if (nEnd == std::string::npos) {
                break;
            }
            nStart = nEnd + 1;
        }
        break;
    case StageConnecting:
    case StageMessage:
    case StageVerifying:
        PutLine(status.strMessage, pUnit);
        break;
    case StageFailure:
        PutLine(status.strMessage, pUnit);
        if (!status.strCause.empty()) {
            PutLine("cause: " + status.strCause, pUnit);
        }
        break;
    case StageUpdating:
        PutLine("updating device[" + strSerial + "] ...", pUnit);
        PutLine("file name : " + status.strFileName, pUnit);
        PutLine("file size : " + std::to_string(status.nFileSize), pUnit);
        PutLine("file date : " + status.strFileDate, pUnit);
        break;
    case StageProgress:
        if (status.nProgress == nLastPercent) {
            break;
        }
        nLastPercent = status.nProgress;
        if (m_bTerminal && pUnit == nullptr) {
            const int nFill = status.nProgress * 40 / 100;
            std::fprintf(
                m_pOut, "\r[%s%s] %3d%%", std::string(static_cast<size_t>(nFill), '#').c_str(),
                std::string(static_cast<size_t>(40 - nFill), ' ').c_str(), status.nProgress);
            m_bBarShown = true;
        } else if (pUnit != nullptr) {
            std::fprintf(m_pOut, "[COM%d] progress %d%%\n", pUnit->nPort, status.nProgress);
        } else {
            std::fprintf(m_pOut, "progress %d%%\n", status.nProgress);
        }
        std::fflush(m_pOut);
        break;
    default:
        break;
    }
}

} // namespace fwup::cli
