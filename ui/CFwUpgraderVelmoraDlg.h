#pragma once
// The main window (dialog template 102): connection panel, firmware selection,
// log and status display, the manual update run and the auto mode.
//
// Threads: every handler runs on the window's (GUI) thread. Update jobs run on a
// worker (UploadWorker) or the auto mode's loop thread (AutoModeLoop); both are
// owned and joined by the window. The control operations below may be called
// from any thread: from a worker they run synchronously on the GUI thread while
// the worker waits (RunOnUi). The GUI thread never waits for a worker.

#include "device/UpdateRequest.h"
#include "device/CDeviceSession.h"
#include "device/ProtocolTimings.h"

#include <QDialog>

#include <QIcon>
#include <QMessageBox>
#include <QString>
#include <QThread>

#include <atomic>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

class QMenu;

namespace fwup {

class CFwUpgraderVelmoraDlg;

// The application's name: the caption of every message box.
inline constexpr const char* kAppName = "fwupgraderVelmora";
// The caption is the template's caption, " v" and this.
inline constexpr const char* kAppVersion = "1.1";
// The converter's description that auto mode looks for.
inline constexpr const char* kConverterDescription = "AT91 USB to Serial Converter";
inline constexpr const char* kTextPortWrong = "The comport is wrong or the device is off. \n";

// Manual runs in progress; the wait cursor shows while it is above 0.
extern std::atomic<int> g_nBusyCount;
// The main window; set when it initialises.
extern CFwUpgraderVelmoraDlg* g_pMainDlg;

// True when the description of a listed port name equals strWanted, blanks at the
// end of the description ignored ("AT91 USB to Serial Converter (COM3)").
bool DescriptionMatches(const std::string& strPortName, const std::string& strWanted);

class CFwUpgraderVelmoraDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFwUpgraderVelmoraDlg(QWidget* pParent = nullptr);
    ~CFwUpgraderVelmoraDlg() override; // joins the worker threads

    // The control with template id nId (nullptr for an unknown id).
    QWidget* Control(int nId) const;
    // The window's menu (right click) with the About entry.
    QMenu* SystemMenu() const { return m_pSystemMenu; }
    // The waits of every later Connect and update (the device's own by default).
    void SetProtocolTimings(const ProtocolTimings& timings) { m_timings = timings; }

    // --- Control operations, callable from any thread -------------------------
    // Runs fn on the GUI thread: directly there, else synchronously while the
    // calling thread waits.
    template <class F> void RunOnUi(F&& fn) {
        if (QThread::currentThread() == thread()) {
            fn();
            return;
        }
        // The call travels through our own locked queue and a handshake of the
        // standard library, so race checkers see the hand-over; Qt only wakes the
        // GUI thread.
        auto pDone = std::make_shared<std::promise<void>>();
        std::future<void> done = pDone->get_future();
        PostToUi([&fn, pDone] {
            fn();
            pDone->set_value();
        });
        done.wait();
    }
    // Queues fn for the GUI thread without waiting for it (any thread).
    void PostToUi(std::function<void()> fn) {
        {
            std::lock_guard<std::mutex> lock(m_uiCallsMutex);
            m_uiCalls.push_back(std::move(fn));
        }
        QMetaObject::invokeMethod(this, "RunUiCalls", Qt::QueuedConnection);
    }
    // Runs the calls that workers queued (GUI thread).
    Q_INVOKABLE void RunUiCalls();
    void EnableControl(int nId, bool bEnable);
    void SetControlText(int nId, const QString& strText);
    QString ControlText(int nId);
    bool IsControlEnabled(int nId);
    void SetProgress(int nId, int nPos);
    // Marquee on: range 0..0 (the bar animates); off: range 0..100.
    void SetMarquee(int nId, bool bOn);
    // A modal message box, caption kAppName, OK only; returns when it is closed.
    void MessageBox(const QString& strText, QMessageBox::Icon eIcon);

    // --- Log and status ------------------------------------------------------
    // Appends to the multi-line box nBoxId (IDC_LOG or IDC_FILE_INFO): line
    // breaks become CR LF, the oldest whole lines go when kTextBoxCapacity would
    // be exceeded, and the newest text is shown.
    void AppendText(int nBoxId, const QString& strText);
    // printf-style (%s takes UTF-8 text); adds no line break of its own.
    void AddLog(const char* pszFormat, ...) Q_ATTRIBUTE_FORMAT_PRINTF(2, 3);
    // Replaces the status line 1016.
    void SetStatusText(const char* pszFormat, ...) Q_ATTRIBUTE_FORMAT_PRINTF(2, 3);
    // Describes the file in box nBoxId (name, size, UTC date); its size, or -1
    // when it cannot be opened exclusively (the box then unchanged).
    int32_t ShowFileInfo(const QString& strPath, int nBoxId);
    // The text a multi-line box holds, with CR LF line breaks. GUI thread.
    QString BoxText(int nBoxId) const;

    // --- Connection panel ----------------------------------------------------
    void RefreshPortList();
    void OnPortSelChange();
    void OnConnect();
    void SetConnection(bool bConnect);
    void ReadDeviceInfo();
    // Logs why the session's port did not open (cause and fix), when known.
    void LogOpenProblem();
    bool IsConnected();

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
    void UploadWorker();
    void OnStatus(int nStage, UpdateStatus* pStatus);
    static void OnStatusThunk(int nStage, UpdateStatus* pStatus, void* pContext);
    void OnAutoMode();
    void AutoModeLoop();

    // --- State, for the workflows and tests ------------------------------------
    bool IsManualRunActive() const { return m_bManualRun.load(); }
    bool IsAutoStopped() const { return m_bAutoStopped.load(); }
    bool IsAutoMode() const { return m_bAutoMode.load(); }
    int JobState() const { return m_nJobState.load(); }
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
    std::mutex m_uiCallsMutex;
    std::deque<std::function<void()>> m_uiCalls;
    void CreateControls();
    void OnInitDialog();
    void EndDialog();        // the base close step
    bool IsWorkBusy() const; // a manual run or an auto loop is using the request
    int ControlIdAt(const QPoint& ptClient) const; // also finds disabled controls
    void AppendTextUi(int nBoxId, const QString& strText);
    void JoinWorker();
    void ShowWaitCursor();
    void EndWaitCursor();
    void SetControlsForAutoMode(bool bAuto);

    std::map<int, QWidget*> m_mapControls;
    std::map<int, QString> m_mapBoxText; // CR LF text of the multi-line boxes
    QMenu* m_pSystemMenu = nullptr;
    QIcon m_hIcon;

    int32_t m_nBootInfo = -1;
    std::optional<std::string> m_optVersion; // the connected application's version
    ImageList m_pSegments;
    ProtocolTimings m_timings; // every session's waits; tests shorten them
    std::unique_ptr<CDeviceSession> m_pSession; // the connected device
    std::thread m_pWorkerThread;
    std::thread m_pAutoThread;
    QString m_strFirmwarePath;
    int32_t m_nFileSize = -1;
    uint32_t m_dwAreaStart = 0;
    uint32_t m_dwAreaSize = 0;
    std::unique_ptr<UpdateRequest> m_pRequest;
    std::atomic<bool> m_bAutoMode{false};
    std::atomic<bool> m_bAutoStopped{true};
    std::atomic<bool> m_bCloseRequested{false};
    std::atomic<bool> m_bManualRun{false};
    std::atomic<int> m_nJobState{0};
};

} // namespace fwup
