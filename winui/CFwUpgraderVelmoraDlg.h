#pragma once
// The main window (dialog template 102 of fwupgraderVelmora.rc) as a native
// Win32 dialog: connection panel, firmware selection, log and status display,
// the manual update run and the auto mode. A view: the connect step, the update
// jobs and the auto loop run on the workflows' threads (CWorkflowController),
// whose reports arrive as posted messages. Every method runs on the window's
// thread, and none waits for the device.

#include "device/CDeviceSession.h"
#include "device/ImageSegment.h"
#include "device/ProtocolTimings.h"
#include "device/UpdateRequest.h"
#include "winui/CWorkflowController.h"
#include "winui/WindowOptions.h"
#include "records/CUnitRecordLog.h"
#include "workflows/ConnectStep.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

namespace fwup {

class CFwUpgraderVelmoraDlg;
class CTestDriver;

// The caption is the template's caption, " v" and this.
inline constexpr const wchar_t* kAppVersion = L"1.1";
inline constexpr const char* kTextPortWrong = "The comport is wrong or the device is off. \n";

// Manual runs in progress; the wait cursor shows while it is above 0. Window thread.
extern int g_nBusyCount;
// The main window; set when it initialises.
extern CFwUpgraderVelmoraDlg* g_pMainDlg;
// The path last chosen in the open-file dialog (kept across choices).
extern wchar_t g_szFileName[2000];

class CFwUpgraderVelmoraDlg {
public:
    // options: the records file (opened by the caller into pRecords, which may be
    // null) and the test hook.
    CFwUpgraderVelmoraDlg(const WindowOptions& options, CUnitRecordLog* pRecords);
    ~CFwUpgraderVelmoraDlg();
    CFwUpgraderVelmoraDlg(const CFwUpgraderVelmoraDlg&) = delete;
    CFwUpgraderVelmoraDlg& operator=(const CFwUpgraderVelmoraDlg&) = delete;

    // Shows the window modally; returns when it has ended (and its workers with it).
    void DoModal(HINSTANCE hInstance);
    // The test hook's verdict: 0 when it saw the update succeed and every check
    // hold, 1 otherwise; 0 without the hook.
    int TestExitCode() const;

    // --- Log and status ------------------------------------------------------
    // printf-style (%s takes UTF-8 text) into the log 1007; adds no line break.
    void AddLog(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
    // Replaces the status line 1016.
    void SetStatusText(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
    // Describes the file in the description box 1004 (name, size, UTC date); its
    // size, or -1 when it cannot be opened exclusively (the box then unchanged).
    int32_t ShowFileInfo(const std::wstring& strPath);
    // A modal message box, the program's name as caption, OK only; returns when closed.
    void MessageBox(const std::wstring& strText, UINT nIcon);

    // --- Connection panel ----------------------------------------------------
    void RefreshPortList();
    void OnPortSelChange();
    void OnConnect();
    // false: disconnects at once. true: starts the connect step on the chosen port;
    // its result arrives later (OnConnectFinished), meanwhile the wait cursor shows
    // and the panel and auto mode are out of use.
    void SetConnection(bool bConnect);
    bool IsConnected() const;

    // --- Firmware selection --------------------------------------------------
    bool ChooseFirmwareFile();
    std::optional<std::wstring> ChooseAndLoadFile();
    void OnLoadBinaryFile();
    void SetFirmwareFile(const std::wstring& strPath);
    // WM_DROPFILES: the first file goes to SetFirmwareFile when the drop point is
    // over 1004 or 1005. Refused while a run or the auto mode uses the request.
    void OnDropFiles(HDROP hDrop);
    void SelectArea();
    void OnAreaSelChange();

    // --- Window --------------------------------------------------------------
    bool OnSysCommand(UINT nId);
    void OnPaint();
    void OnCancel();
    void OnOK();

    // --- Workflows -----------------------------------------------------------
    void OnUpload();
    void OnAutoMode();
    // A job's stage report: log lines, the file description, the progress bar and
    // the job state.
    void OnStatus(int nStage, const UpdateStatus& status);

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT nMsg, WPARAM wParam, LPARAM lParam);
    void OnCommand(int nId, int nCode);
    void OnInitDialog();
    void OnWorkflowReport(WorkflowReport& report);
    void EndDialog();        // the base close step
    bool IsWorkBusy() const; // a manual run or an auto loop is using the request
    void ShowBusyCursor();
    void EndBusyCursor();
    void SetControlsForAutoMode(bool bAuto);
    void SetAutoMarquee(bool bOn);
    // Appends to the multi-line box hBox: line breaks made CR LF, the oldest
    // whole lines dropped when the box is full, the newest text in view.
    void AppendText(HWND hBox, const std::wstring& strText);
    std::wstring ChosenPort() const; // the port list's chosen entry; empty when none

    // Reports of the workflows.
    void OnConnectFinished(ConnectResult& result);
    void OnManualRunFinished();
    void OnAutoLoopStarted();
    void OnAutoSearching();
    void OnAutoNothingFound(int nSearchPos);
    void OnAutoDeviceFound();
    void OnRemoveDeviceAsked();
    void OnAutoLoopEnded();

    WindowOptions m_options;
    CUnitRecordLog* m_pRecords;
    HINSTANCE m_hInstance = nullptr;
    HWND m_hWnd = nullptr;
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    // Template 102, then the auto mode's two controls; owned by the dialog.
    HWND m_hUpload = nullptr;       // 1000
    HWND m_hArea = nullptr;         // 1001, hidden
    HWND m_hPort = nullptr;         // 1002
    HWND m_hLoad = nullptr;         // 1003
    HWND m_hFileInfo = nullptr;     // 1004
    HWND m_hFilePath = nullptr;     // 1005
    HWND m_hAreaText = nullptr;     // 1006, hidden
    HWND m_hLog = nullptr;          // 1007
    HWND m_hProgress = nullptr;     // 1008
    HWND m_hDeviceState = nullptr;  // 1011
    HWND m_hConnect = nullptr;      // 1014
    HWND m_hSerial = nullptr;       // 1034
    HWND m_hStatus = nullptr;       // 1016
    HWND m_hAutoMode = nullptr;     // 1017
    HWND m_hAutoProgress = nullptr; // 1039

    std::unique_ptr<CWorkflowController> m_pWorkflows;
    std::unique_ptr<CTestDriver> m_pTestDriver;
    int32_t m_nBootInfo = -1;
    std::optional<std::string> m_optVersion; // the connected application's version
    ImageList m_pSegments;
    ProtocolTimings m_timings; // every session's waits: the device's own
    // The connected device; the manual run holds it while it runs.
    std::unique_ptr<CDeviceSession> m_pSession;
    std::wstring m_strFirmwarePath;
    int32_t m_nFileSize = -1;
    uint32_t m_dwAreaStart = 0;
    uint32_t m_dwAreaSize = 0;
    // The request of every job; a running job or loop has it to itself.
    std::unique_ptr<UpdateRequest> m_pRequest;
    bool m_bAutoMode = false;
    bool m_bAutoStopped = true;
    bool m_bCloseRequested = false;
    bool m_bManualRun = false;
    bool m_bConnecting = false;
    bool m_bLoadBeforeAuto = false; // "Load Binary File" was usable when auto mode began
    bool m_bRestoringFocus = false; // activation gives the focus back: no new visit
    int m_nJobState = 0;
};

} // namespace fwup
