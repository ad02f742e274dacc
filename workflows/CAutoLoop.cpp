#include "workflows/CAutoLoop.h"

#include "serial/Clock.h"
#include "serial/PortDiscovery.h"
#include "workflows/ConverterSearch.h"

#include <system_error>

namespace fwup {

CAutoLoop::CAutoLoop(UpdateRequest& request, IAutoObserver& observer, IOperator& op,
                     const ProtocolTimings& timings, int nMaxDevices, int nRetries)
    : m_request(request), m_observer(observer), m_pJobObserver(&observer), m_operator(op),
      m_timings(timings), m_nMaxDevices(nMaxDevices), m_nRetries(nRetries) {}

CAutoLoop::~CAutoLoop() {
    RequestStop();
    Join();
}

bool CAutoLoop::KeepGoing(const AutoTally& tally) const {
    return !StopRequested() && (m_nMaxDevices <= 0 || tally.Total() < m_nMaxDevices);
}

AutoTally CAutoLoop::Run() {
    AutoTally tally;
    m_observer.OnLoopStarted();
    int nSearchPos = 0;
    while (KeepGoing(tally)) {
        m_observer.OnSearching();
        const std::optional<PortRecord> found = FindConverter(ScanPorts());
        if (!found) {
            m_observer.OnNothingFound(nSearchPos);
            nSearchPos += 10;
            if (nSearchPos > 100) {
                nSearchPos = 0;
            }
            SleepMs(kSearchPauseMs);
            continue;
        }

        // Another reader: a serial the last one told is not this one's (a reader in
        // its boot loader tells none, and the request would keep the old one).
        m_request.status.optSerial.reset();
        DeviceUnit unit = UnitOfRecord(*found);
        m_observer.OnDeviceFound(unit);
        // Opened at once; a port that does not open is left to the job's own wait.
        auto pSession =
            std::make_unique<CDeviceSession>(std::make_unique<CComPort>(*found), m_timings);
        CRetryingJob* pJob = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pJob =
                std::make_unique<CRetryingJob>(std::move(pSession), unit, m_timings, m_nRetries);
            pJob = m_pJob.get();
            if (m_bInterrupt) {
                pJob->RequestStop();
            }
        }
        const UpdateOutcome outcome = pJob->Run(m_request, *m_pJobObserver);
        unit = pJob->Unit(); // its last attempt
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pJob.reset();
        }
        tally.Add(outcome);
        m_observer.OnDeviceDone(unit, tally);
        m_bReturnWaited = m_request.eVerified != VerifyState::NotChecked;
        m_operator.AskToRemove(unit, *this);
        nSearchPos = 0;
    }
    m_observer.OnLoopEnded(tally);
    return tally;
}

bool CAutoLoop::Start() {
    if (IsRunning()) {
        return false;
    }
    Join();
    m_bRunning = true;
    try {
        m_thread = std::thread([this] {
            Run();
            m_bRunning = false;
        });
    } catch (const std::system_error&) {
        m_bRunning = false;
        return false;
    }
    return true;
}

void CAutoLoop::Join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CAutoLoop::InterruptDevice() {
    RequestStop();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bInterrupt = true;
    if (m_pJob) {
        m_pJob->RequestStop();
    }
}

} // namespace fwup
