#pragma once
// CMainWindowModel: the main window's behaviour without a toolkit. It owns the
// window's state, which control is usable when, every text the window shows,
// the log's trimming, and the work behind the controls: the connect step, the
// manual run, the auto loop with the operator's "Remove the device", and the
// unit records. A view (IWindowView) shows what the model says and hands it the
// operator's input; ui/ (Qt) and winui/ (Win32) are two such views.
//
// Threads: every public method runs on the GUI thread except the constructor's
// wake function, which workers call. A worker appends its report to a locked
// queue and calls wake once per batch; the toolkit then calls Drain on the GUI
// thread (a queued call in Qt, a posted message on Windows). A worker never
// waits for the GUI thread but for the operator's answer to "Remove the device",
// which the auto loop waits for by design; the GUI thread never waits for a
// worker but to join one that has sent its last report.

#include "device/CDeviceSession.h"
#include "device/ImageSegment.h"
#include "device/ProtocolTimings.h"
#include "device/UpdateRequest.h"
#include "records/CRecordingObserver.h"
#include "records/IRecordSink.h"
#include "serial/PortDiscovery.h"
#include "station/StationProfile.h"
#include "windowmodel/CGuiQueue.h"
#include "windowmodel/IWindowView.h"
#include "workflows/CAutoLoop.h"
#include "workflows/CManualUpdate.h"
#include "workflows/ConnectStep.h"
#include "workflows/IAutoObserver.h"
#include "workflows/IOperator.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fwup {

inline constexpr const char* kTextPortWrong = "The comport is wrong or the device is off. \n";

class CMainWindowModel : private IAutoObserver, private IOperator {
public:
    // view: borrowed, outlives the model. fnWake: any thread; arranges one call of
    // Drain on the GUI thread soon, without waiting; false when it could not.
    CMainWindowModel(IWindowView& view, std::function<bool()> fnWake);
    ~CMainWindowModel() override; // Shutdown()
    CMainWindowModel(const CMainWindowModel&) = delete;
    CMainWindowModel& operator=(const CMainWindowModel&) = delete;

    // The window's start: every control's state and text, the area, the port list.
    void Init();
    // After Init, when a station profile applies: every later image is judged by it
    // before it is taken (a refused one is logged with its cause, shown in a box
    // and leaves the loaded image as it was). Loads strImage when not empty. A
    // locked profile keeps "Load Binary File" off and refuses dropped files.
    void SetStationProfile(const StationProfile& profile, const std::string& strImage);
    bool IsImageLocked() const { return m_optProfile && m_optProfile->bLocked; }
    // Every later job's read-back: bVerify false sends nothing after the finish
    // reply; optExpectVersion, when given, leaves a reader that reports it alone
    // ("current") and fails one that reports another after its download.
    void SetReadBack(bool bVerify, const std::optional<std::string>& optExpectVersion);
    // The waits of every later connect step and job (the device's own by default).
    void SetProtocolTimings(const ProtocolTimings& timings) { m_timings = timings; }
    // Records of every later job (borrowed, outlives the model; null for none),
    // through the recording observer in front of the manual run's and the auto
    // loop's job reports. Logs where they go; its notices (spooled, lost) reach
    // the log through the GUI thread. Shutdown waits until every record is written.
    // Before the first job.
    void SetRecordSink(IRecordSink* pSink);
    // Runs the reports the workers queued, in order.
    void Drain();
    // Stops the auto loop after its current device and a manual run at its next
    // packet boundary, drops an unanswered operator question, waits for every
    // worker and drops the reports not yet delivered (a connect result among them
    // closes its port). Later reports are dropped.
    void Shutdown();

    // --- The operator's input ----------------------------------------------------
    void RefreshPortList(); // the port list drops down or is visited
    // The port list's choice: its entry's name, none when nothing is chosen.
    void OnPortSelChange(const std::optional<std::string>& optName);
    void OnConnect();
    void OnAreaSelChange(const std::string& strName);
    void OnLoadBinaryFile();
    // A drop of a file on control eTarget: taken when it is a file box and no run
    // or auto mode uses the request. CanTakeDrop says so before the drop.
    bool CanTakeDrop(Control eTarget) const;
    bool OnDropFiles(Control eTarget, const std::string& strPath);
    void OnUpload();
    void OnAutoMode();
    // Esc, the close box: ends the window now when idle, else when the work is over.
    void OnCancel();
    // The Enter key's ending: true when the window may end now; else acts as OnCancel.
    bool OnOK();

    // --- State (what the view and tests read) -------------------------------------
    const std::string& Text(Control eControl) const;
    bool IsEnabled(Control eControl) const;
    int Progress(Control eBar) const;
    bool IsMarqueeOn() const { return m_bMarquee; }
    bool IsWaitCursor() const { return m_nBusyCount > 0 || m_bConnecting; }
    bool IsConnected() const { return m_bConnected; }
    bool IsConnecting() const { return m_bConnecting; }
    bool IsManualRunActive() const { return m_bManualRun; }
    bool IsAutoStopped() const { return m_bAutoStopped; }
    bool IsAutoMode() const { return m_bAutoMode; }
    // Connected, connecting, in auto mode or in a manual run: this window holds a
    // reader, so a bench (which takes every reader that appears) must not open.
    bool HoldsReader() const {
        return m_bConnected || m_bConnecting || m_bAutoMode || m_bManualRun;
    }
    int JobState() const { return m_nJobState; }
    int32_t BootInfo() const { return m_nBootInfo; }
    bool HasImage() const { return m_pSegments != nullptr; }
    const UpdateRequest& Request() const { return *m_pRequest; }
    // The file chosen last (also one refused: the job checks it again); empty: none.
    const std::string& FirmwarePath() const { return m_pRequest->strFirmwarePath; }
    uint32_t AreaStart() const { return m_dwAreaStart; }
    uint32_t AreaSize() const { return m_dwAreaSize; }
    int32_t FileSize() const { return m_nFileSize; }
    const std::u16string& BoxText(Control eBox) const;

    // --- Output (also for the view's own lines) -------------------------------------
    // printf-style (%s takes UTF-8 text) into the log; adds no line break.
    void AddLog(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
    void SetStatusText(const std::string& strText);

private:
    // The manual run's reports: those of a job plus the run's end.
    class CManualRelay : public IUpdateObserver {
    public:
        explicit CManualRelay(CMainWindowModel& owner) : m_owner(owner) {}
        void OnStage(const DeviceUnit& unit, UpdateStage eStage,
                     const UpdateStatus& status) override;
        void OnJobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                        const UpdateRequest& request) override;

    private:
        CMainWindowModel& m_owner;
    };

    // The view, with the model's copy of what it shows.
    void SetText(Control eControl, const std::string& strText);
    void Enable(Control eControl, bool bEnable);
    void SetBar(Control eBar, int nPos);
    void SetMarquee(bool bOn);
    void AppendBox(Control eBox, const std::string& strText);
    void ClearBox(Control eBox);
    void UpdateWaitCursor(bool bWasOn);
    // Device text in the platform's code page, its control characters shown as \xHH:
    // a reader's serial number must not break or fake a log line.
    std::string DeviceText(const std::string& strBytes) const;

    bool IsWorkBusy() const; // a manual run or an auto loop is using the request
    void SelectArea(const std::string& strName);
    void SetConnection(bool bConnect);
    // The connection's state and the Connect button's caption, which says it.
    void ShowConnected(bool bConnected);
    void SetFirmwareFile(const std::string& strPath);
    // Under a station profile: false (logged, shown) when it refuses the image;
    // else the request names the sum and signature it accepted.
    bool JudgeUnderProfile(const std::string& strPath, std::string& strSignatureLine);
    int32_t ShowFileInfo(const std::string& strPath);
    void AfterFileChosen();
    void SetControlsForAutoMode(bool bAuto);
    // The auto mode button's state and its caption, which says it.
    void ShowAutoSwitch(bool bOn);
    void ShowBusyCursor();
    void EndBusyCursor();

    // Reports, on the GUI thread.
    void OnConnectFinished(ConnectResult& result);
    void OnStatus(int nStage, const UpdateStatus& status);
    void OnManualRunFinished();
    void OnAutoLoopStarted();
    void OnAutoSearching();
    void OnAutoNothingFound(int nSearchPos);
    void OnAutoDeviceFound();
    void OnRemoveDeviceAsked();
    void OnAutoLoopEnded();

    // Workers' side (CMainWindowModelWorkers.cpp).
    bool Post(std::function<void()> fn); // any thread; false when dropped
    bool StartConnect(const std::string& strPortName);
    bool StartAutoLoop();
    void StopAutoLoop();
    void AnswerRemove();
    void OnStage(const DeviceUnit& unit, UpdateStage eStage, const UpdateStatus& status) override;
    void OnJobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                    const UpdateRequest& request) override;
    void OnLoopStarted() override;
    void OnSearching() override;
    void OnNothingFound(int nSearchPos) override;
    void OnDeviceFound(const DeviceUnit& unit) override;
    void OnLoopEnded(const AutoTally& tally) override;
    void AskToRemove(const DeviceUnit& unit, const CAutoLoop& loop) override;

    IWindowView& m_view;

    // Declared before the workers: they post into it until they are joined.
    CGuiQueue m_gui;

    std::mutex m_answerMutex;
    std::condition_variable m_answered;
    bool m_bRemoveAnswered = false; // with m_answerMutex
    bool m_bAbandoned = false;      // with m_answerMutex

    std::atomic<IRecordSink*> m_pRecords{nullptr};
    std::thread m_connectThread;
    CManualRelay m_manualRelay{*this};
    CRecordingObserver m_manualRecording{m_manualRelay}; // in front of the manual run's reports
    CManualUpdate m_manual{m_manualRecording};
    CRecordingObserver m_autoRecording{*this}; // in front of the auto loop's job reports
    std::unique_ptr<CAutoLoop> m_pAutoLoop;

    // GUI thread only from here.
    std::map<Control, std::string> m_texts;
    std::map<Control, bool> m_enabled;
    std::map<Control, int> m_bars;
    std::u16string m_strLog;
    std::u16string m_strFileInfo;
    bool m_bMarquee = false;
    std::vector<PortRecord> m_ports; // as listed, in the list's order
    std::string m_strChosenPort;     // empty: none
    std::string m_strArea;           // the chosen flash area's name

    ProtocolTimings m_timings;
    std::optional<StationProfile> m_optProfile; // none: any image within the size rules
    int32_t m_nBootInfo = -1;
    std::optional<std::string> m_optVersion; // the connected application's version
    ImageList m_pSegments;
    // The connected device; the manual run holds it while it runs.
    std::unique_ptr<CDeviceSession> m_pSession;
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
    // A Connect answered and no disconnection since ("disconnect" shown); a manual
    // run holds the session meanwhile.
    bool m_bConnected = false;
    // The operator switched auto mode on ("cancel auto mode" shown); it stays so when
    // the loop ends, until the operator presses the button again.
    bool m_bAutoSwitchOn = false;
    bool m_bLoadBeforeAuto = false; // "Load Binary File" was usable when auto mode began
    int m_nBusyCount = 0;           // manual runs in progress
    int m_nJobState = 0;
};

} // namespace fwup
