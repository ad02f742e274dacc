#include "ui/CWorkflowController.h"

#include "records/CUnitRecordLog.h"

#include <QMetaObject>

#include <system_error>
#include <utility>

namespace fwup {

CWorkflowController::CWorkflowController(QObject* pParent) : QObject(pParent) {}

CWorkflowController::~CWorkflowController() {
    Shutdown();
}

void CWorkflowController::Shutdown() {
    {
        std::lock_guard<std::mutex> lock(m_answerMutex);
        m_bAbandoned = true;
    }
    m_answered.notify_all();
    if (m_pAutoLoop) {
        m_pAutoLoop->RequestStop();
        m_pAutoLoop->Join();
    }
    m_manual.RequestStop();
    m_manual.Join();
    if (m_connectThread.joinable()) {
        m_connectThread.join();
    }
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_bShutDown = true;
        dropped.swap(m_queue);
    }
    // A connect result among them releases its port here.
}

void CWorkflowController::Post(std::function<void()> fn) {
    bool bWake = false;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (m_bShutDown) {
            return;
        }
        bWake = m_queue.empty();
        m_queue.push_back(std::move(fn));
    }
    // Only the first report of a batch wakes the GUI thread; Drain takes them all.
    if (bWake) {
        QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
    }
}

void CWorkflowController::Drain() {
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            if (m_queue.empty()) {
                return;
            }
            fn = std::move(m_queue.front());
            m_queue.pop_front();
        }
        fn(); // may show a modal box, which drains what comes in meanwhile
    }
}

// --- Connect -------------------------------------------------------------------

bool CWorkflowController::StartConnect(const std::string& strPortName,
                                       const ProtocolTimings& timings) {
    if (m_bConnecting) {
        return false;
    }
    if (m_connectThread.joinable()) {
        m_connectThread.join();
    }
    m_bConnecting = true;
    try {
        m_connectThread = std::thread([this, strPortName, timings] {
            auto pResult = std::make_shared<ConnectResult>(ConnectDevice(strPortName, timings));
            Post([this, pResult] {
                m_connectThread.join(); // it is past its last step
                m_bConnecting = false;
                emit connectFinished(pResult);
            });
        });
    } catch (const std::system_error&) {
        m_bConnecting = false;
        return false;
    }
    return true;
}

// --- Manual run ----------------------------------------------------------------

bool CWorkflowController::StartManualRun(std::unique_ptr<CDeviceSession>& pSession,
                                         UpdateRequest& request) {
    return m_manual.Start(pSession, request);
}

void CWorkflowController::CManualRelay::OnStage(const DeviceUnit& unit, UpdateStage eStage,
                                                const UpdateStatus& status) {
    m_owner.OnStage(unit, eStage, status);
}

void CWorkflowController::CManualRelay::OnJobEnded(const DeviceUnit& unit,
                                                   const UpdateOutcome& outcome,
                                                   const UpdateRequest& request) {
    m_owner.OnJobEnded(unit, outcome, request);
    m_owner.Post([this] {
        m_owner.m_manual.Join(); // it is past its last report
        emit m_owner.manualRunFinished();
    });
}

// --- Job reports -----------------------------------------------------------------

void CWorkflowController::OnStage(const DeviceUnit& unit, UpdateStage eStage,
                                  const UpdateStatus& status) {
    if (CUnitRecordLog* pRecords = m_pRecords.load(); pRecords != nullptr && eStage == StageStart) {
        pRecords->JobStarted(unit);
    }
    Post([this, eStage, status] { emit stageReported(eStage, status); });
}

void CWorkflowController::OnJobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                                     const UpdateRequest& request) {
    if (CUnitRecordLog* pRecords = m_pRecords.load()) {
        pRecords->JobEnded(unit, outcome, request);
    }
    Post([this, outcome] { emit jobEnded(outcome); });
}

// --- Auto loop -------------------------------------------------------------------

bool CWorkflowController::StartAutoLoop(UpdateRequest& request, const ProtocolTimings& timings) {
    if (m_pAutoLoop && m_pAutoLoop->IsRunning()) {
        return false;
    }
    m_pAutoLoop.reset(); // joins the previous loop, which is past its end
    {
        std::lock_guard<std::mutex> lock(m_answerMutex);
        m_bAbandoned = false;
    }
    IAutoObserver& observer = *this;
    IOperator& op = *this;
    m_pAutoLoop = std::make_unique<CAutoLoop>(request, observer, op, timings);
    if (!m_pAutoLoop->Start()) {
        m_pAutoLoop.reset();
        return false;
    }
    return true;
}

void CWorkflowController::StopAutoLoop() {
    if (m_pAutoLoop) {
        m_pAutoLoop->RequestStop();
    }
}

void CWorkflowController::OnLoopStarted() {
    Post([this] { emit autoLoopStarted(); });
}

void CWorkflowController::OnSearching() {
    Post([this] { emit autoSearching(); });
}

void CWorkflowController::OnNothingFound(int nSearchPos) {
    Post([this, nSearchPos] { emit autoNothingFound(nSearchPos); });
}

void CWorkflowController::OnDeviceFound(const DeviceUnit& unit) {
    Post([this, unit] { emit autoDeviceFound(unit); });
}

void CWorkflowController::OnLoopEnded(const AutoTally&) {
    Post([this] {
        m_pAutoLoop->Join(); // it is past its last report
        emit autoLoopEnded();
    });
}

void CWorkflowController::AskToRemove(const DeviceUnit& unit, const CAutoLoop&) {
    std::unique_lock<std::mutex> lock(m_answerMutex);
    m_bRemoveAnswered = false;
    lock.unlock();
    Post([this, unit] { emit removeDeviceAsked(unit); });
    lock.lock();
    m_answered.wait(lock, [this] { return m_bRemoveAnswered || m_bAbandoned; });
}

void CWorkflowController::AnswerRemove() {
    {
        std::lock_guard<std::mutex> lock(m_answerMutex);
        m_bRemoveAnswered = true;
    }
    m_answered.notify_all();
}

} // namespace fwup
