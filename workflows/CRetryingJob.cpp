#include "workflows/CRetryingJob.h"

#include "serial/CComPort.h"
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

// A retry's reports: the serial the first attempt learned stays the unit's while
// the retry finds only the boot loader, which tells none (the reader never left
// its connector, so it is the same unit).
class CSerialKeeper : public IUpdateObserver {
public:
    CSerialKeeper(IUpdateObserver& observer, UpdateRequest& request, std::string strSerial)
        : m_observer(observer), m_request(request), m_strSerial(std::move(strSerial)) {}

    void OnStage(const DeviceUnit& unit, UpdateStage eStage, const UpdateStatus& status) override {
        Keep();
        m_observer.OnStage(unit, eStage, status);
    }
    void OnJobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                    const UpdateRequest& request) override {
        Keep();
        m_observer.OnJobEnded(unit, outcome, request);
    }
    void OnRetry(const DeviceUnit& unit, const UpdateOutcome& previous) override {
        m_observer.OnRetry(unit, previous);
    }

private:
    void Keep() {
        if (!m_request.status.optSerial) {
            m_request.status.optSerial = m_strSerial; // the status reported is the request's
        }
    }
    IUpdateObserver& m_observer;
    UpdateRequest& m_request;
    std::string m_strSerial;
};

} // namespace

bool IsRetryableOutcome(OutcomeKind eKind) {
    return eKind == OutcomeKind::CommunicationError || eKind == OutcomeKind::BootFailed;
}

std::optional<PortRecord> WaitForUnitPort(const DeviceUnit& unit, uint32_t nWaitMs,
                                          const std::atomic<bool>* pbStop) {
    const uint32_t dwStart = GetTickCount();
    for (;;) {
        for (const PortRecord& record : ScanPorts()) {
            if (IsUnitsPort(unit, record)) {
                return record;
            }
        }
        if ((pbStop != nullptr && pbStop->load()) || TicksSince(dwStart) >= nWaitMs) {
            return std::nullopt;
        }
        SleepMs(kListPollMs);
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
    std::optional<std::string> optSerial = request.status.optSerial;
    for (int nRetry = 0; nRetry < m_nRetries; ++nRetry) {
        if (!IsRetryableOutcome(outcome.eKind) || m_bStop.load()) {
            break;
        }
        const std::optional<PortRecord> port =
            WaitForUnitPort(Unit(), m_timings.nDetectOpenMs, &m_bStop);
        if (!port || m_bStop.load()) {
            break; // the reader has gone: nothing left to retry on
        }
        DeviceUnit next = UnitOfRecord(*port);
        next.strSlot = m_unit.strSlot;
        next.nAttempt = m_unit.nAttempt + 1;
        auto pSession =
            std::make_unique<CDeviceSession>(std::make_unique<CComPort>(*port), m_timings);
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
        // The attempt finds the reader anew: nothing of the last one's findings is
        // kept (its version, boot info, serial), only the caller's inputs.
        request.nBootInfo = -1;
        request.optVersion.reset();
        request.status = UpdateStatus{};
        if (optSerial) {
            CSerialKeeper keeper(observer, request, *optSerial);
            outcome = pJob->Run(request, keeper);
        } else {
            outcome = pJob->Run(request, observer);
            optSerial = request.status.optSerial;
        }
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
