#pragma once
// CBenchTestDriver: the test window program's driver of the bench window
// (--bench with --test-report and --test-readers N; never in the shipped window).
// Once the window is shown it checks the title and the buttons, presses
// "&Start", and while the first bar is under way presses the close box and
// answers the question No (the window must stay and no reader is cut). It waits
// until N rows have passed, checks each row's cells, presses "S&top", writes
// what it saw to the report, waits for REPORT.done (the caller's screenshot) and
// closes the window through its system menu's Close.
//
// Driven by a 10 ms timer of the window, which keeps firing in modal loops; the
// largest gap between its ticks while readers run is reported (the window's
// thread never waits for a reader). Any message box that was not asked for
// fails the run.

#include <windows.h>

#include <string>
#include <vector>

namespace fwup {

struct BenchHookOptions {
    std::string strTestReport; // --test-report FILE: where it writes what it saw
    int nReaders = 0;          // --test-readers N: the readers on the bench
    std::string strImageName;  // the file name of the window's --file
};

class CBenchTestDriver {
public:
    CBenchTestDriver(HWND hDlg, BenchHookOptions options);
    CBenchTestDriver(const CBenchTestDriver&) = delete;
    CBenchTestDriver& operator=(const CBenchTestDriver&) = delete;

    void Start();
    // The window's WM_TIMER; true when the timer was the driver's.
    bool OnTimer(WPARAM nTimerId);
    // 0 when every reader passed and every check held; 1 otherwise.
    int ExitCode() const { return m_bPassed && m_nFailures == 0 ? 0 : 1; }

private:
    enum class Step {
        CheckWindow,
        WaitBar,
        WaitQuestion,
        WaitPassed,
        WaitTable,
        WaitStopped,
        WaitAck,
        Done,
        Closed
    };

    void Tick();
    void GoTo(Step eStep);
    bool WithinLimit(DWORD dwLimitMs, const char* pszWaitingFor);
    void Check(bool bHeld, const std::string& strWhat);
    void Fail(const std::string& strWhy); // a failed check that ends the run
    void Note(const std::string& strLine);
    bool CloseUnexpectedBox();
    std::wstring Cell(int nRow, int nColumn) const;
    int Rows() const;
    void CheckRows();
    void WriteReport();
    HWND Item(int nId) const { return ::GetDlgItem(m_hDlg, nId); }

    HWND m_hDlg;
    BenchHookOptions m_options;
    Step m_eStep = Step::CheckWindow;
    DWORD m_dwStepStart = 0;
    DWORD m_dwLastTick = 0;
    DWORD m_dwGapRunning = 0; // largest gap between ticks while readers run, ms
    DWORD m_dwStarted = 0;    // tick count at Start
    bool m_bInTick = false;
    bool m_bPassed = false;
    int m_nFailures = 0;
    std::vector<std::string> m_lines;
};

} // namespace fwup
