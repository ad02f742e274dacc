#pragma once
// CWorkflowController: the window's side of the shared workflows. It runs the
// connect step, the manual update and the auto loop on their own threads and
// turns what they report into queued signals on the GUI thread.
//
// Hand-over: a worker appends the report to a locked queue (a std::mutex, which
// race checkers see) and asks Qt to drain it on the GUI thread; it never waits
// for the GUI thread. The one exception is the operator's answer to "Remove the
// device", which the auto loop waits for by design. The GUI thread never waits
// for a worker, except to join one that has already sent its last report.

#include "device/ProtocolTimings.h"
#include "device/UpdateOutcome.h"
#include "device/UpdateRequest.h"
#include "workflows/CAutoLoop.h"
#include "workflows/CManualUpdate.h"
#include "workflows/ConnectStep.h"
#include "workflows/DeviceUnit.h"
#include "workflows/IAutoObserver.h"
#include "workflows/IOperator.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace fwup {

class CUnitRecordLog;

class CWorkflowController : public QObject, private IAutoObserver, private IOperator {
    Q_OBJECT
public:
    explicit CWorkflowController(QObject* pParent = nullptr);
    ~CWorkflowController() override; // Shutdown()
    CWorkflowController(const CWorkflowController&) = delete;
    CWorkflowController& operator=(const CWorkflowController&) = delete;

    // GUI thread: stops the auto loop after its current device, stops a manual
    // run at its next packet boundary, drops an unanswered operator question,
    // waits for every worker and drops the reports not yet delivered.
    void Shutdown();

    // Unit records of every later job (manual and auto): borrowed, may be null.
    // Written on the job's thread, never the GUI thread.
    void SetRecordLog(CUnitRecordLog* pRecords) { m_pRecords = pRecords; }

    // The connect step on a thread of its own; connectFinished follows. False
    // when a connect step is running or no thread could be started.
    bool StartConnect(const std::string& strPortName, const ProtocolTimings& timings);
    bool IsConnecting() const { return m_bConnecting.load(); }

    // The manual update (CManualUpdate::Start): stages arrive as stageReported,
    // then jobEnded, then manualRunFinished once the worker is done.
    bool StartManualRun(std::unique_ptr<CDeviceSession>& pSession, UpdateRequest& request);
    bool IsManualRunning() const { return m_manual.IsRunning(); }

    // The auto loop with request (the loop's until autoLoopEnded) and timings.
    // False when a loop is running or no thread could be started.
    bool StartAutoLoop(UpdateRequest& request, const ProtocolTimings& timings);
    // The loop ends after its current cycle (a device's job and question first).
    void StopAutoLoop();
    // The operator has closed the "Remove the device" box: the loop goes on.
    void AnswerRemove();

signals:
    void connectFinished(std::shared_ptr<fwup::ConnectResult> pResult);
    // A job's stage report; status is a copy taken when the job reported.
    void stageReported(int nStage, const fwup::UpdateStatus& status);
    void jobEnded(const fwup::UpdateOutcome& outcome);
    void manualRunFinished();
    void autoLoopStarted();
    void autoSearching();
    void autoNothingFound(int nSearchPos);
    void autoDeviceFound(const fwup::DeviceUnit& unit);
    void removeDeviceAsked(const fwup::DeviceUnit& unit);
    void autoLoopEnded();

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

    // Any thread: queues fn for the GUI thread without waiting.
    void Post(std::function<void()> fn);
    // GUI thread: runs what the workers queued, in order.
    Q_INVOKABLE void Drain();

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

    // Declared first: the workers below post into it until they are joined.
    std::mutex m_queueMutex;
    std::deque<std::function<void()>> m_queue;
    bool m_bShutDown = false; // with m_queueMutex

    std::mutex m_answerMutex;
    std::condition_variable m_answered;
    bool m_bRemoveAnswered = false; // with m_answerMutex
    bool m_bAbandoned = false;      // with m_answerMutex

    std::thread m_connectThread;
    std::atomic<bool> m_bConnecting{false};
    CManualRelay m_manualRelay{*this};
    CManualUpdate m_manual{m_manualRelay};
    std::unique_ptr<CAutoLoop> m_pAutoLoop;
    std::atomic<CUnitRecordLog*> m_pRecords{nullptr};
};

} // namespace fwup
