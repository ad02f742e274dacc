#include "workflows/CManualUpdate.h"

#include <system_error>

namespace fwup {

CManualUpdate::CManualUpdate(IUpdateObserver& observer) : m_observer(observer) {}

CManualUpdate::~CManualUpdate() {
    RequestStop();
    Join();
}

bool CManualUpdate::Start(std::unique_ptr<CDeviceSession>& pSession, UpdateRequest& request) {
    if (!pSession || IsRunning()) {
        return false;
    }
    Join(); // the previous run's thread is past its last report
    const DeviceUnit unit = UnitOfPort(pSession->Port());
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pJob = std::make_unique<CDeviceJob>(std::move(pSession), unit);
    }
    m_bRunning = true;
    try {
        m_thread = std::thread([this, &request] {
            m_pJob->Run(request, m_observer);
            m_bRunning = false;
        });
    } catch (const std::system_error&) {
        // No thread: the caller keeps its connected session.
        m_bRunning = false;
        std::lock_guard<std::mutex> lock(m_mutex);
        pSession = m_pJob->TakeBackSession();
        m_pJob.reset();
        return false;
    }
    return true;
}

void CManualUpdate::RequestStop() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pJob) {
        m_pJob->RequestStop();
    }
}

void CManualUpdate::Join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

} // namespace fwup
