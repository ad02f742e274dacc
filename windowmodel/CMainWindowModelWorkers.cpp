// CMainWindowModel's worker side: the connect step's thread, the manual run, the
// auto loop and the operator's answer, and the queue that brings their reports to
// the GUI thread. The GUI side is CMainWindowModel.cpp.

#include "windowmodel/CMainWindowModel.h"

#include "serial/Utf8Text.h"
#include "windowmodel/CWindowRecords.h"

#include <system_error>
#include <utility>

namespace fwup {

void CMainWindowModel::Shutdown() {
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
    if (IRecordSink* pRecords = m_pRecords.load()) {
        pRecords->Close(); // its last notices are dropped below with the other reports
    }
    m_gui.ShutDown(); // a connect result among the dropped reports releases its port
}

void CMainWindowModel::SetRecordSink(IRecordSink* pSink) {
    m_pRecords = pSink;
    const auto notTaken = [this](const DeviceUnit&) {
        Post([this, strFailure = RecordNotTakenText(*m_pRecords.load())] {
            AddLog("%s\n", strFailure.c_str());
        });
    };
    m_manualRecording.SetSink(pSink, notTaken);
    m_autoRecording.SetSink(pSink, notTaken);
    if (pSink == nullptr) {
        return;
    }
    AddLog("Records go to %s\n", pSink->StoreName().c_str());
    pSink->SetNoticeSink([this](const std::string& strNotice) {
        Post([this, strNotice] { AddLog("%s\n", DisplayText(strNotice).c_str()); });
    });
}

bool CMainWindowModel::Post(std::function<void()> fn) {
    return m_gui.Post(std::move(fn));
}

void CMainWindowModel::Drain() {
    m_gui.Drain();
}

// --- Connect step ---------------------------------------------------------------------

bool CMainWindowModel::StartConnect(const std::string& strPortName) {
    if (m_connectThread.joinable()) {
        m_connectThread.join(); // past its last report
    }
    try {
        m_connectThread = std::thread([this, strPortName, timings = m_timings] {
            auto pResult = std::make_shared<ConnectResult>(ConnectDevice(strPortName, timings));
            Post([this, pResult] {
                m_connectThread.join(); // it is past its last step
                OnConnectFinished(*pResult);
            });
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

// --- Job reports ------------------------------------------------------------------------

void CMainWindowModel::CManualRelay::OnStage(const DeviceUnit& unit, UpdateStage eStage,
                                             const UpdateStatus& status) {
    m_owner.OnStage(unit, eStage, status);
}

void CMainWindowModel::CManualRelay::OnJobEnded(const DeviceUnit&, const UpdateOutcome&,
                                                const UpdateRequest&) {
    m_owner.Post([this] {
        m_owner.m_manual.Join(); // it is past its last report
        m_owner.OnManualRunFinished();
    });
}

void CMainWindowModel::OnStage(const DeviceUnit&, UpdateStage eStage, const UpdateStatus& status) {
    Post([this, eStage, status] { OnStatus(eStage, status); });
}

void CMainWindowModel::OnJobEnded(const DeviceUnit&, const UpdateOutcome&, const UpdateRequest&) {
    // The record is the recording observer's; the end shows in the stage reports.
}

// --- Auto loop ----------------------------------------------------------------------------

bool CMainWindowModel::StartAutoLoop() {
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
    m_pAutoLoop = std::make_unique<CAutoLoop>(*m_pRequest, observer, op, m_timings);
    m_pAutoLoop->SetJobObserver(m_autoRecording);
    if (!m_pAutoLoop->Start()) {
        m_pAutoLoop.reset();
        return false;
    }
    return true;
}

void CMainWindowModel::StopAutoLoop() {
    if (m_pAutoLoop) {
        m_pAutoLoop->RequestStop();
    }
}

void CMainWindowModel::OnLoopStarted() {
    Post([this] { OnAutoLoopStarted(); });
}

void CMainWindowModel::OnSearching() {
    Post([this] { OnAutoSearching(); });
}

void CMainWindowModel::OnNothingFound(int nSearchPos) {
    Post([this, nSearchPos] { OnAutoNothingFound(nSearchPos); });
}

void CMainWindowModel::OnDeviceFound(const DeviceUnit&) {
    Post([this] { OnAutoDeviceFound(); });
}

void CMainWindowModel::OnLoopEnded(const AutoTally&) {
    Post([this] {
        m_pAutoLoop->Join(); // it is past its last report
        OnAutoLoopEnded();
    });
}

void CMainWindowModel::AskToRemove(const DeviceUnit&, const CAutoLoop&) {
    {
        std::lock_guard<std::mutex> lock(m_answerMutex);
        m_bRemoveAnswered = false;
    }
    if (!Post([this] { OnRemoveDeviceAsked(); })) {
        return; // nobody can answer: waiting would never end
    }
    std::unique_lock<std::mutex> lock(m_answerMutex);
    m_answered.wait(lock, [this] { return m_bRemoveAnswered || m_bAbandoned; });
}

void CMainWindowModel::AnswerRemove() {
    {
        std::lock_guard<std::mutex> lock(m_answerMutex);
        m_bRemoveAnswered = true;
    }
    m_answered.notify_all();
}

} // namespace fwup
