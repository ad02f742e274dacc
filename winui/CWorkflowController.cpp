#include "winui/CWorkflowController.h"

#include <system_error>
#include <utility>

namespace fwup {

CWorkflowController::CWorkflowController(HWND hWindow, CUnitRecordLog* pRecords)
    : m_hWindow(hWindow), m_pRecords(pRecords) {
    if (m_pRecords != nullptr) { // spooled or lost records, told from the records' own thread
        m_pRecords->SetNoticeSink([this](const std::string& strNotice) {
            auto pReport = std::make_unique<WorkflowReport>();
            pReport->status.strMessage = strNotice;
            Post(ReportKind::RecordFailed, std::move(pReport));
        });
    }
}

CWorkflowController::~CWorkflowController() {
    Shutdown();
    if (m_pRecords != nullptr) {
        m_pRecords->Close(); // every record written; its notices need this object
    }
}

std::unique_ptr<WorkflowReport> CWorkflowController::TakeReport(LPARAM lParam) {
    return std::unique_ptr<WorkflowReport>(reinterpret_cast<WorkflowReport*>(lParam));
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
    // Every worker has ended: what they posted and the window has not taken yet
    // is freed here.
    m_bShutDown = true;
    MSG msg;
    while (::PeekMessageW(&msg, m_hWindow, WM_WORKFLOW_REPORT, WM_WORKFLOW_REPORT, PM_REMOVE)) {
        TakeReport(msg.lParam);
    }
}

bool CWorkflowController::Post(ReportKind eKind, std::unique_ptr<WorkflowReport> pReport) {
    if (!pReport) {
        pReport = std::make_unique<WorkflowReport>();
    }
    pReport->eKind = eKind;
    if (m_bShutDown.load() || !::PostMessageW(m_hWindow, WM_WORKFLOW_REPORT, 0,
                                              reinterpret_cast<LPARAM>(pReport.get()))) {
        return false;
    }
    pReport.release(); // the window's now
    return true;
}

void CWorkflowController::Settle(const WorkflowReport& report) {
    switch (report.eKind) {
    case ReportKind::ConnectFinished:
        if (m_connectThread.joinable()) {
            m_connectThread.join(); // it is past its last step
        }
        m_bConnecting = false;
        break;
    case ReportKind::ManualRunFinished:
        m_manual.Join();
        break;
    case ReportKind::AutoLoopEnded:
        if (m_pAutoLoop) {
            m_pAutoLoop->Join();
        }
        break;
    default:
        break;
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
            auto pReport = std::make_unique<WorkflowReport>();
            pReport->pConnect =
                std::make_unique<ConnectResult>(ConnectDevice(strPortName, timings));
            Post(ReportKind::ConnectFinished, std::move(pReport));
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
    m_owner.Post(ReportKind::ManualRunFinished);
}

// --- Job reports -----------------------------------------------------------------

void CWorkflowController::OnStage(const DeviceUnit& unit, UpdateStage eStage,
                                  const UpdateStatus& status) {
    if (eStage == StageStart && m_pRecords != nullptr && m_pRecords->IsOpen()) {
        m_pRecords->JobStarted(unit);
    }
    auto pReport = std::make_unique<WorkflowReport>();
    pReport->nStage = eStage;
    pReport->status = status;
    pReport->unit = unit;
    Post(ReportKind::Stage, std::move(pReport));
}

void CWorkflowController::OnJobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                                     const UpdateRequest& request) {
    if (m_pRecords != nullptr && m_pRecords->IsOpen()) {
        m_pRecords->JobEnded(unit, outcome, request); // queued: never waits on the store
    }
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
    Post(ReportKind::AutoLoopStarted);
}

void CWorkflowController::OnSearching() {
    Post(ReportKind::AutoSearching);
}

void CWorkflowController::OnNothingFound(int nSearchPos) {
    auto pReport = std::make_unique<WorkflowReport>();
    pReport->nSearchPos = nSearchPos;
    Post(ReportKind::AutoNothingFound, std::move(pReport));
}

void CWorkflowController::OnDeviceFound(const DeviceUnit& unit) {
    auto pReport = std::make_unique<WorkflowReport>();
    pReport->unit = unit;
    Post(ReportKind::AutoDeviceFound, std::move(pReport));
}

void CWorkflowController::OnLoopEnded(const AutoTally&) {
    Post(ReportKind::AutoLoopEnded);
}

void CWorkflowController::AskToRemove(const DeviceUnit& unit, const CAutoLoop&) {
    {
        std::lock_guard<std::mutex> lock(m_answerMutex);
        m_bRemoveAnswered = false;
    }
    auto pReport = std::make_unique<WorkflowReport>();
    pReport->unit = unit;
    if (!Post(ReportKind::RemoveDeviceAsked, std::move(pReport))) {
        return; // nobody can answer: waiting would never end
    }
    std::unique_lock<std::mutex> lock(m_answerMutex);
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
