#pragma once
// CBenchTable: the live table of `auto --parallel` on a terminal. One row per
// reader's connector (slot, COM number, serial, stage, percent, attempt, result), redrawn in
// place: at every change of stage, and for progress at most every 100 ms. Safe
// from several threads.

#include "device/DeviceUnit.h"
#include "device/UpdateOutcome.h"
#include "device/UpdateRequest.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace fwup::cli {

class CBenchTable {
public:
    explicit CBenchTable(FILE* pOut);

    void Stage(const DeviceUnit& unit, UpdateStage eStage, const UpdateStatus& status);
    void Done(const DeviceUnit& unit, const UpdateOutcome& outcome);
    void Removed(const DeviceUnit& unit); // its port has gone: the row says so
    // The line under the table (search state, tally).
    void Footer(const std::string& strText);

    // The row's text: "Slot 3     COM3    SN00000001     download      42%  1  ".
    static std::string FormatRow(const std::string& strSlot, int nPort,
                                 const std::string& strSerial, const std::string& strStage,
                                 int nPercent, int nAttempt, const std::string& strResult);

private:
    struct Row {
        std::string strSlot = "-";
        int nAttempt = 1;
        std::string strSerial = "-";
        std::string strStage = "found";
        int nPercent = 0;
        std::string strResult;
    };
    void Redraw(bool bForce);

    std::mutex m_mutex;
    FILE* m_pOut;
    std::map<int, Row> m_rows; // by COM number
    std::string m_strFooter;
    int m_nLinesDrawn = 0;
    std::chrono::steady_clock::time_point m_tpLastDraw{};
};

} // namespace fwup::cli
