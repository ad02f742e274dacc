#pragma once
// CWorkflowController: the native window's side of the shared workflows. It runs
// the connect step, the manual update and the auto loop on their own threads
// and hands what they report to the window as posted messages.
//
// Hand-over: a worker allocates a WorkflowReport and posts its pointer with
// WM_WORKFLOW_REPORT; the window takes it over (TakeReport) and frees it. A
// worker never waits for the window, except for the operator's answer to
// "Remove the device", which the auto loop waits for by design. The window
// never waits for a worker, except to join one that has sent its last report.

#include "device/ProtocolTimings.h"
#include "device/UpdateOutcome.h"
#include "device/UpdateRequest.h"
#include "workflows/CAutoLoop.h"
#include "workflows/CManualUpdate.h"
#include "records/CUnitRecordLog.h"
#include "workflows/ConnectStep.h"
#include "workflows/DeviceUnit.h"
#include "workflows/IAutoObserver.h"
#include "workflows/IOperator.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace fwup {

// Posted to the window; lParam is a WorkflowReport* that the window deletes.
inline constexpr UINT WM_WORKFLOW_REPORT = WM_APP + 1;

enum class ReportKind {
    ConnectFinished,   // pConnect: the connect step's result
    Stage,             // nStage, status: a job's stage report
    RecordFailed,      // status.strMessage: a record was spooled, sent or lost
    ManualRunFinished, // the manual run's thread is past its last report
    AutoLoopStarted,
    AutoSearching,
    AutoNothingFound,  // nSearchPos
    AutoDeviceFound,   // unit
    RemoveDeviceAsked, // unit; the loop waits for AnswerRemove
    AutoLoopEnded,     // the loop's thread is past its last report
};

struct WorkflowReport {
    ReportKind eKind = ReportKind::Stage;
    int nStage = 0;      // Stage: an UpdateStage
    UpdateStatus status; // Stage: a copy taken when the job reported
    DeviceUnit unit;
    int nSearchPos = 0;
    std::unique_ptr<ConnectResult> pConnect; // holds the session when a device answered
};

class CWorkflowController : private IAutoObserver, private IOperator {
public:
    // hWindow receives the reports; pRecords (borrowed, may be null or closed)
    // gets one record per finished job.
    CWorkflowController(HWND hWindow, CUnitRecordLog* pRecords);
    ~CWorkflowController() override; // Shutdown()
    CWorkflowController(const CWorkflowController&) = delete;
    CWorkflowController& operator=(const CWorkflowController&) = delete;

    // The window's message for WM_WORKFLOW_REPORT, taken over.
    static std::unique_ptr<WorkflowReport> TakeReport(LPARAM lParam);

    // Window thread, before it acts on a report: joins the worker that sent its
    // last one (connect step, manual run, auto loop).
    void Settle(const WorkflowReport& report);

    // Window thread, while the window still exists: stops the auto loop after
    // its current device, a manual run at its next packet boundary, drops an
    // unanswered operator question, waits for every worker and frees the
    // reports still queued (a connect result among them closes its port).
    void Shutdown();

    // The connect step on a thread of its own; ConnectFinished follows. False
    // when one is running or no thread could be started.
    bool StartConnect(const std::string& strPortName, const ProtocolTimings& timings);
    // The manual update (CManualUpdate::Start): Stage reports, then ManualRunFinished.
    bool StartManualRun(std::unique_ptr<CDeviceSession>& pSession, UpdateRequest& request);
    // The auto loop with request (the loop's until AutoLoopEnded). False when a
    // loop is running or no thread could be started.
    bool StartAutoLoop(UpdateRequest& request, const ProtocolTimings& timings);
    // The loop ends after its current cycle (a device's job and question first).
    void StopAutoLoop();
    // The operator has closed the "Remove the device" box: the loop goes on.
    void AnswerRemove();

private:
    // The manual run's reports: those of a job plus the run's end.
    class CManualRelay : public IUpdateObserver {
    public:
        explicit CManualRelay(CWorkflowController& owner) : m_owner(owner) {}
        void OnStage(const DeviceUnit& unit, UpdateStage eStage,
                     const UpdateStatus& status) override;
        void OnJobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                        const UpdateRequest& request) override;

    private:
        CWorkflowController& m_owner;
    };

    // Any thread: posts the report without waiting. False when it was dropped
    // (after Shutdown, or the window's queue refused it).
    bool Post(ReportKind eKind, std::unique_ptr<WorkflowReport> pReport = nullptr);

    // IAutoObserver and IOperator, on the loop's thread.
    void OnStage(const DeviceUnit& unit, UpdateStage eStage, const UpdateStatus& status) override;
    void OnJobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                    const UpdateRequest& request) override;
    void OnLoopStarted() override;
    void OnSearching() override;
    void OnNothingFound(int nSearchPos) override;
    void OnDeviceFound(const DeviceUnit& unit) override;
    void OnLoopEnded(const AutoTally& tally) override;
    void AskToRemove(const DeviceUnit& unit, const CAutoLoop& loop) override;

    HWND m_hWindow;
    CUnitRecordLog* m_pRecords;
    std::atomic<bool> m_bShutDown{false};

    std::mutex m_answerMutex;
    std::condition_variable m_answered;
    bool m_bRemoveAnswered = false; // with m_answerMutex
    bool m_bAbandoned = false;      // with m_answerMutex

    std::thread m_connectThread;
    std::atomic<bool> m_bConnecting{false};
    CManualRelay m_manualRelay{*this};
    CManualUpdate m_manual{m_manualRelay};
    std::unique_ptr<CAutoLoop> m_pAutoLoop;
};

} // namespace fwup
