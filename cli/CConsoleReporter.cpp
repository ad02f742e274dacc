#include "cli/CConsoleReporter.h"

namespace fwup::cli {

namespace {

const char* StageName(int nStage) {
    static const char* const names[] = {"start",    "success",  "message", "connecting",
                                        "updating", "progress", "failure"};
    return nStage >= 0 && nStage <= 6 ? names[nStage] : "unknown";
}

} // namespace

std::string JsonEscape(const std::string& strText) {
    std::string strOut;
    for (unsigned char c : strText) {
        switch (c) {
        case '"':
            strOut += "\\\"";
            break;
        case '\\':
            strOut += "\\\\";
            break;
        case '\n':
            strOut += "\\n";
            break;
        case '\r':
            strOut += "\\r";
            break;
        case '\t':
            strOut += "\\t";
            break;
        default:
            if (c < 0x20) {
                char szEscape[8];
                std::snprintf(szEscape, sizeof szEscape, "\\u%04x", c);
                strOut += szEscape;
            } else {
                strOut += static_cast<char>(c);
            }
        }
    }
    return strOut;
}

CConsoleReporter::CConsoleReporter(FILE* pOut, bool bJson, bool bTerminal)
    : m_pOut(pOut), m_bJson(bJson), m_bTerminal(bTerminal) {}

void CConsoleReporter::OnStatus(int nStage, UpdateStatus* pStatus, void* pContext) {
    if (pStatus != nullptr && pContext != nullptr) {
        static_cast<CConsoleReporter*>(pContext)->Report(nStage, *pStatus);
    }
}

void CConsoleReporter::EndProgressBar() {
    if (m_bBarShown) {
        std::fputc('\n', m_pOut);
        m_bBarShown = false;
    }
}

void CConsoleReporter::Line(const std::string& strText) {
    EndProgressBar();
    if (m_bJson) {
        std::fprintf(m_pOut, "{\"event\":\"status\",\"message\":\"%s\"}\n",
                     JsonEscape(strText).c_str());
    } else {
        std::fprintf(m_pOut, "%s\n", strText.c_str());
    }
    std::fflush(m_pOut);
}

void CConsoleReporter::Report(int nStage, const UpdateStatus& status) {
    if (nStage == StageStart) {
        m_nLastPercent = -1;
        m_bSucceeded = false;
        m_strFinal.clear();
    } else if (nStage == StageSuccess || nStage == StageFailure) {
        m_bSucceeded = nStage == StageSuccess;
        m_strFinal = status.strMessage;
    }
    const std::string strSerial = status.optSerial.value_or("unknown");
    if (m_bJson) {
        std::fprintf(m_pOut, "{\"stage\":%d,\"name\":\"%s\"", nStage, StageName(nStage));
        switch (nStage) {
        case StageSuccess:
        case StageMessage:
        case StageConnecting:
        case StageFailure:
            std::fprintf(m_pOut, ",\"message\":\"%s\"", JsonEscape(status.strMessage).c_str());
            if (nStage == StageFailure && !status.strCause.empty()) {
                std::fprintf(m_pOut, ",\"cause\":\"%s\"", JsonEscape(status.strCause).c_str());
            }
            break;
        case StageUpdating:
            std::fprintf(
                m_pOut, ",\"serial\":\"%s\",\"file\":{\"name\":\"%s\",\"size\":%d,\"date\":\"%s\"}",
                JsonEscape(strSerial).c_str(), JsonEscape(status.strFileName).c_str(),
                status.nFileSize, JsonEscape(status.strFileDate).c_str());
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
    case StageConnecting:
    case StageSuccess:
    case StageMessage:
        Line(status.strMessage);
        break;
    case StageFailure:
        Line(status.strMessage);
        if (!status.strCause.empty()) {
            Line("cause: " + status.strCause);
        }
        break;
    case StageUpdating:
        Line("updating device[" + strSerial + "] ...");
        Line("file name : " + status.strFileName);
        Line("file size : " + std::to_string(status.nFileSize));
        Line("file date : " + status.strFileDate);
        break;
    case StageProgress:
        if (status.nProgress == m_nLastPercent) {
            break;
        }
        m_nLastPercent = status.nProgress;
        if (m_bTerminal) {
            const int nFill = status.nProgress * 40 / 100;
            std::fprintf(
                m_pOut, "\r[%s%s] %3d%%", std::string(static_cast<size_t>(nFill), '#').c_str(),
                std::string(static_cast<size_t>(40 - nFill), ' ').c_str(), status.nProgress);
            m_bBarShown = true;
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
