#pragma once
// CConsoleReporter: the console's status callback. Prints the lines the window
// would log, a progress bar on a terminal (plain percent lines otherwise), or
// one JSON object per report with --json. Reports about a unit (several readers
// at once) carry it: lines start with "[COMn] ", JSON objects get "port",
// "serial", "slot" (when the unit has one) and "attempt", and progress comes as
// percent lines. Safe from several threads.

#include "device/DeviceUnit.h"
#include "device/UpdateOutcome.h"
#include "device/UpdateRequest.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace fwup::cli {

class CConsoleReporter {
public:
    CConsoleReporter(FILE* pOut, bool bJson, bool bTerminal);

    void Report(int nStage, const UpdateStatus& status, const DeviceUnit* pUnit = nullptr);

    // A free-form line of the front end itself (auto mode's status lines).
    void Line(const std::string& strText, const DeviceUnit* pUnit = nullptr);
    // Attempt unit.nAttempt starts after previous failed: "retrying (attempt 2)
    // after: Communication Error", or {"event":"retry","attempt":2,"after":...}.
    // bTagUnit: the line carries the unit, as Report's with a unit.
    void Retry(const DeviceUnit& unit, const UpdateOutcome& previous, bool bTagUnit);

private:
    void EndProgressBar();
    void PutLine(const std::string& strText, const DeviceUnit* pUnit);

    std::mutex m_mutex; // one report at a time, whole lines
    FILE* m_pOut;
    bool m_bJson;
    bool m_bTerminal;
    bool m_bBarShown = false;
    std::map<int, int> m_lastPercent; // by COM number; 0 for the one device
};

} // namespace fwup::cli
