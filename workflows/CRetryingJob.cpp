#include "workflows/CRetryingJob.h"

#include "serial/CComPort.h"
#include "serial/CPortWatcher.h"
#include "serial/Clock.h"
#include "serial/PortDiscovery.h"

namespace fwup {

namespace {

constexpr uint32_t kListPollMs = 50;

bool IsUnitsPort(const DeviceUnit& unit, const PortRecord& record) {
    if (!unit.strConnector.empty()) {
        return record.strConnector == unit.strConnector;
    }
    return unit.nPort != 0 ? record.nPort == unit.nPort : record.strName == unit.strPortName;
}

} // namespace

bool IsRetryableOutcome(OutcomeKind eKind) {
    return eKind == OutcomeKind::CommunicationError || eKind == OutcomeKind::BootFailed;
}

std::optional<PortRecord> WaitForUnitPort(const DeviceUnit& unit, uint32_t nWaitMs,
                                          const std::atomic<bool>* pbStop,
                                          const CPortWatcher* pWatcher) {
    const uint32_t dwStart = GetTickCount();
    for (;;) {
        uint64_t nGeneration = 0;
        for (const PortRecord& record :
             pWatcher != nullptr ? pWatcher->Snapshot(&nGeneration) : ScanPorts()) {
            if (IsUnitsPort(unit, record)) {
                return record;
            }
        }
        if ((pbStop != nullptr && pbStop->load()) || TicksSince(dwStart) >= nWaitMs) {
            return std::nullopt;
        }
        if (pWatcher != nullptr) {
            pWatcher->WaitForChange(nGeneration, kListPollMs);
        } else {
            SleepMs(kListPollMs);
        }
    }
}

CRetryingJob::CRetryingJob(std::unique_ptr<CDeviceSession> pSession, DeviceUnit unit,
                           const ProtocolTimings& timings, int nRetries)
    : m_timings(timings), m_nRetries(nRetries < 0 ? 0 : nRetries),
      m_pJob(std::make_unique<CDeviceJob>(std::move(pSession), unit)), m_unit(std::move(unit)) {}

UpdateOutcome CRetryingJob::Run(UpdateRequest& request, IUpdateObserver& observer) {
    CDeviceJob* pJob = nullptr;
    {
        const std::lock_guard lock(m_mutex);
        pJob = m_pJob.get();
    }
    UpdateOutcome outcome = pJob->Run(request, observer);
    for (int nRetry = 0; nRetry < m_nRetries; ++nRetry) {
        if (!IsRetryableOutcome(outcome.eKind) || m_bStop.load()) {
            break;
        }
        const std::optional<PortRecord> port =
            WaitForUnitPort(Unit(), m_timings.nDetectOpenMs, &m_bStop, m_pWatcher);
        if (!port || m_bStop.load()) {
            break; // the reader has gone: nothing left to retry on
        }
        DeviceUnit next = UnitOfRecord(*port);
        next.strSlot = m_unit.strSlot;
        next.nAttempt = m_unit.nAttempt + 1;
        auto pPort = std::make_unique<CComPort>(*port);
        pPort->SetPortWatcher(m_pWatcher);
        auto pSession = std::make_unique<CDeviceSession>(std::move(pPort), m_timings);
        {
            const std::lock_guard lock(m_mutex);
            m_unit = next;
            m_pJob = std::make_unique<CDeviceJob>(std::move(pSession), next);
            pJob = m_pJob.get();
            if (m_bStop.load()) {
                pJob->RequestStop(); // a stop that came while the session opened
            }
        }
        observer.OnRetry(next, outcome);
        // The attempt finds the reader anew (version, boot info); the serial stays,
        // as for any job: a boot loader tells none, and the reader never left its
        // connector.
        std::optional<std::string> optSerial = request.status.optSerial;
        request.nBootInfo = -1;
        request.optVersion.reset();
        request.status = UpdateStatus{};
        request.status.optSerial = std::move(optSerial);
        outcome = pJob->Run(request, observer);
    }
    return outcome;
}

void CRetryingJob::RequestStop() {
    m_bStop.store(true);
    const std::lock_guard lock(m_mutex);
    if (m_pJob) {
        m_pJob->RequestStop();
    }
}

std::unique_ptr<CDeviceSession> CRetryingJob::TakeBackSession() {
    const std::lock_guard lock(m_mutex);
    return m_pJob ? m_pJob->TakeBackSession() : nullptr;
}

DeviceUnit CRetryingJob::Unit() const {
    const std::lock_guard lock(m_mutex);
    return m_unit;
}

} // namespace fwup
