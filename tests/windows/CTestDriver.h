#pragma once
// CTestDriver: the test window program's driver (--test-port, --test-file,
// --test-report, --test-auto; never in the shipped window). Once the window is shown it works the
// window as an operator would, through the real controls and the messages a user's input produces:
// the About entry of the system menu, its Bench entry (the bench window opens and closes), the port
// list's drop-down and choice, Connect, a file dropped on the path box (WM_DROPFILES with a real
// HDROP), "Load Binary File" and the open-file dialog, UPLOAD. With --test-auto: the drop, "auto
// mode", and at "Remove the device" it writes REPORT.unplug, waits for REPORT.unplugged (the caller
// has taken the device away), answers the box and switches auto mode off while it searches. It
// checks what the window shows on the way, writes what it saw to the report file, waits for
// REPORT.done (the caller's screenshot) and closes the window through its
// system menu's Close.
//
// Driven by a 10 ms timer of the window, which keeps firing in modal loops; the
// largest gap between its ticks while connecting and while updating is reported
// (the window's thread never waits for the device). Any message box that was
// not asked for fails the run; its text is reported and the box closed.

#include <windows.h>

#include <string>
#include <vector>

namespace fwup {

struct TestHookOptions {
    std::string strTestPort;   // --test-port COMn: the port it chooses
    std::string strTestFile;   // --test-file PATH: the image it loads and sends
    std::string strTestReport; // --test-report FILE: where it writes what it saw; may be empty
    bool bTestAuto = false;    // --test-auto: auto mode instead of UPLOAD
    std::string strRecordPath; // the window's own --record: the log's first line names it
};

class CTestDriver {
public:
    CTestDriver(HWND hDlg, const TestHookOptions& options);
    CTestDriver(const CTestDriver&) = delete;
    CTestDriver& operator=(const CTestDriver&) = delete;

    void Start();
    // The window's WM_TIMER; true when the timer was the driver's.
    bool OnTimer(WPARAM nTimerId);
    // 0 when the update succeeded and every check held; 1 otherwise.
    int ExitCode() const { return m_bPassed && m_nFailures == 0 ? 0 : 1; }

private:
    enum class Step {
        CheckWindow,
        OpenAbout,
        CloseAbout,
        OpenBench,
        CloseBench,
        ChoosePort,
        WaitConnected,
        DropFile,
        WaitDropped,
        LoadFile,
        ChooseInDialog,
        WaitLoaded,
        Upload,
        WaitUpdated,
        ClickAuto,
        WaitRemoveBox,
        WaitUnplugged,
        WaitSearching,
        WaitAutoOff,
        Report,
        WaitAck,
        Close,
        Done,
    };

    void Tick();
    void GoTo(Step eStep);
    // Limit of the current step, in ms; false (the run failed) once it is over.
    bool WithinLimit(DWORD dwLimitMs, const char* pszWaitingFor);
    void Check(bool bHeld, const std::string& strWhat);
    void Fail(const std::string& strWhy); // a failed check that ends the run
    void Note(const std::string& strLine);
    bool CloseUnexpectedBox();
    void CheckTemplate();
    void ChoosePort();
    void DropFile();
    void ChooseInDialog(HWND hOpen);
    void AnswerRemoveBox(HWND hBox);
    bool FileExists(const char* pszSuffix) const; // the report's path with pszSuffix
    void WriteReport();

    HWND Item(int nId) const { return ::GetDlgItem(m_hDlg, nId); }

    HWND m_hDlg;
    TestHookOptions m_options;
    std::wstring m_strFile; // --test-file as the window shows it
    Step m_eStep = Step::CheckWindow;
    DWORD m_dwStepStart = 0;     // tick count when the step began
    DWORD m_dwLastTick = 0;      // of the previous timer tick
    DWORD m_dwGapConnect = 0;    // largest gap between ticks while connecting, ms
    DWORD m_dwGapUpdate = 0;     // the same while updating
    bool m_bSawUpdating = false; // auto mode: the status line read "updating device ..."
    bool m_bInTick = false;      // a tick that reached a modal loop is not re-entered
    bool m_bPassed = false;      // the update ended with the success text
    int m_nFailures = 0;
    std::vector<std::string> m_lines; // the report
};

} // namespace fwup
