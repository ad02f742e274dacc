#pragma once
// CConsoleReporter: the console's status callback. Prints the lines the window
// would log, a progress bar on a terminal (plain percent lines otherwise), or
// one JSON object per report with --json.

#include "device/UpdateRequest.h"

#include <cstdio>
#include <string>

namespace fwup::cli {

class CConsoleReporter {
public:
    CConsoleReporter(FILE* pOut, bool bJson, bool bTerminal);

    // Matches StatusCallback; pContext is the reporter.
    static void OnStatus(int nStage, UpdateStatus* pStatus, void* pContext);
    void Report(int nStage, const UpdateStatus& status);

    // A free-form line of the front end itself (auto mode's status lines).
    void Line(const std::string& strText);

    bool Succeeded() const { return m_bSucceeded; }
    const std::string& FinalMessage() const { return m_strFinal; }

private:
    void EndProgressBar();

    FILE* m_pOut;
    bool m_bJson;
    bool m_bTerminal;
    bool m_bBarShown = false;
    int m_nLastPercent = -1;
    bool m_bSucceeded = false;
    std::string m_strFinal;
};

// Escapes a text for a JSON string literal (quotes not included).
std::string JsonEscape(const std::string& strText);

} // namespace fwup::cli
