#pragma once
// The main window (dialog template 102): connection panel, firmware selection,
// log and status display, the manual update run and the auto mode. A view: the
// connect step, the update jobs and the auto loop run on the workflows' threads
// (CWorkflowController), whose reports arrive here as signals on the GUI thread.
// Every method runs on the GUI thread, and none waits for the device.
//
// Each control keeps its template id as its object name ("1000" for UPLOAD), by
// which tests and accessibility tools find it.

#include "device/CDeviceSession.h"
#include "device/ImageSegment.h"
#include "device/ProtocolTimings.h"
#include "device/UpdateOutcome.h"
#include "device/UpdateRequest.h"
#include "workflows/ConnectStep.h"
#include "workflows/DeviceUnit.h"

#include <QDialog>
#include <QIcon>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;

namespace fwup {

class CFwUpgraderVelmoraDlg;
class CLogBox;
class CPortComboBox;
class CWorkflowController;
class CUnitRecordLog;

// The application's name: the caption of every message box.
inline constexpr const char* kAppName = "fwupgraderVelmora";
// The caption is the template's caption, " v" and this.
inline constexpr const char* kAppVersion = "1.1";
inline constexpr const char* kTextPortWrong = "The comport is wrong or the device is off. \n";

// Manual runs in progress; the wait cursor shows while it is above 0. GUI thread.
extern int g_nBusyCount;
// The main window; set when it initialises.
extern CFwUpgraderVelmoraDlg* g_pMainDlg;

class CFwUpgraderVelmoraDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFwUpgraderVelmoraDlg(QWidget* pParent = nullptr);
    // Stops what still runs (a manual run at its next packet boundary, the auto
    // loop after its device) and joins the workers.
    ~CFwUpgraderVelmoraDlg() override;

    // The window's menu (right click) with the About entry.
    QMenu* SystemMenu() const { return m_pSystemMenu; }
    // The waits of every later Connect and update (the device's own by default).
    void SetProtocolTimings(const ProtocolTimings& timings) { m_timings = timings; }
    // Appends a unit record for every later job (borrowed; null for none).
    void SetRecordLog(CUnitRecordLog* pRecords);

    // --- Log and status ------------------------------------------------------
    // printf-style (%s takes UTF-8 text) into the log 1007; adds no line break.
    void AddLog(const char* pszFormat, ...) Q_ATTRIBUTE_FORMAT_PRINTF(2, 3);
    // Replaces the status line 1016.
    void SetStatusText(const char* pszFormat, ...) Q_ATTRIBUTE_FORMAT_PRINTF(2, 3);
    // Describes the file in the description box 1004 (name, size, UTC date); its
    // size, or -1 when it cannot be opened exclusively (the box then unchanged).
    int32_t ShowFileInfo(const QString& strPath);
    // A modal message box, caption kAppName, OK only; returns when it is closed.
    void MessageBox(const QString& strText, QMessageBox::Icon eIcon);

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
    std::optional<QString> ChooseAndLoadFile();
    void OnLoadBinaryFile();
    void SetFirmwareFile(const QString& strPath);
    // A drop of files at ptClient (client coordinates): the first file goes to
    // SetFirmwareFile when the point is over 1004 or 1005. Refused while a run or
    // the auto mode is using the request. True when the file was taken.
    bool OnDropFiles(const QPoint& ptClient, const QStringList& paths);
    void SelectArea();
    void OnAreaSelChange();

    // --- Window --------------------------------------------------------------
    void OnSysCommand(int nId);
    void OnCancel();

    // --- Workflows -----------------------------------------------------------
    void OnUpload();
    void OnAutoMode();
    // A job's stage report: log lines, the file description, the progress bar and
    // the job state.
    void OnStatus(int nStage, const UpdateStatus& status);

    // --- State, for tests ------------------------------------------------------
    bool IsConnecting() const { return m_bConnecting; }
    bool IsManualRunActive() const { return m_bManualRun; }
    bool IsAutoStopped() const { return m_bAutoStopped; }
    bool IsAutoMode() const { return m_bAutoMode; }
    int JobState() const { return m_nJobState; }
    int32_t BootInfo() const { return m_nBootInfo; }
    bool HasImage() const { return m_pSegments != nullptr; }
    const UpdateRequest& Request() const { return *m_pRequest; }
    const QString& FirmwarePath() const { return m_strFirmwarePath; }
    uint32_t AreaStart() const { return m_dwAreaStart; }
    uint32_t AreaSize() const { return m_dwAreaSize; }
    int32_t FileSize() const { return m_nFileSize; }

protected:
    void reject() override; // Esc and the close box: OnCancel
    void done(int nResult) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override; // Enter: the OK command
    void dragEnterEvent(QDragEnterEvent* pEvent) override;
    void dragMoveEvent(QDragMoveEvent* pEvent) override;
    void dropEvent(QDropEvent* pEvent) override;

private:
    void CreateControls();
    void ConnectSignals();
    void OnInitDialog();
    void EndDialog();        // the base close step
    bool IsWorkBusy() const; // a manual run or an auto loop is using the request
    QWidget* ControlAt(const QPoint& ptClient) const; // also finds disabled controls
    void ShowBusyCursor();
    void EndBusyCursor();
    void SetControlsForAutoMode(bool bAuto);

    // Reports of the workflows (signals of m_pWorkflows).
    void OnConnectFinished(const std::shared_ptr<ConnectResult>& pResult);
    void OnManualRunFinished();
    void OnAutoLoopStarted();
    void OnAutoSearching();
    void OnAutoNothingFound(int nSearchPos);
    void OnAutoDeviceFound(const DeviceUnit& unit);
    void OnRemoveDeviceAsked(const DeviceUnit& unit);
    void OnAutoLoopEnded();

    // Template 102, then the auto mode's two controls; owned by the window.
    QPushButton* m_pUpload = nullptr;        // 1000
    QComboBox* m_pArea = nullptr;            // 1001, hidden
    CPortComboBox* m_pPort = nullptr;        // 1002
    QPushButton* m_pLoad = nullptr;          // 1003
    CLogBox* m_pFileInfo = nullptr;          // 1004
    QLineEdit* m_pFilePath = nullptr;        // 1005
    QLineEdit* m_pAreaText = nullptr;        // 1006, hidden
    CLogBox* m_pLog = nullptr;               // 1007
    QProgressBar* m_pProgress = nullptr;     // 1008
    QLabel* m_pDeviceState = nullptr;        // 1011
    QPushButton* m_pConnect = nullptr;       // 1014
    QLabel* m_pSnLabel = nullptr;            // "SN"
    QLabel* m_pSerial = nullptr;             // 1034
    QLineEdit* m_pStatus = nullptr;          // 1016
    QPushButton* m_pAutoMode = nullptr;      // 1017
    QProgressBar* m_pAutoProgress = nullptr; // 1039
    QMenu* m_pSystemMenu = nullptr;
    QIcon m_hIcon;

    std::unique_ptr<CWorkflowController> m_pWorkflows;
    int32_t m_nBootInfo = -1;
    std::optional<std::string> m_optVersion; // the connected application's version
    ImageList m_pSegments;
    ProtocolTimings m_timings; // every session's waits; tests shorten them
    // The connected device; the manual run holds it while it runs.
    std::unique_ptr<CDeviceSession> m_pSession;
    QString m_strFirmwarePath;
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
    int m_nJobState = 0;
};

} // namespace fwup
