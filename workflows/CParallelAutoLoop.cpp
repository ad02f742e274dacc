#include "workflows/CParallelAutoLoop.h"

#include "serial/Clock.h"
#include "serial/PortDiscovery.h"
#include "workflows/CAutoLoop.h"
#include "workflows/ConverterSearch.h"

#include <set>

#include <system_error>

namespace fwup {

CParallelAutoLoop::CParallelAutoLoop(std::string strFirmwarePath, IAutoObserver& observer,
                                     const ProtocolTimings& timings, int nMaxDevices, int nRetries,
                                     CSlotMap* pSlots)
    : m_strFirmwarePath(std::move(strFirmwarePath)), m_observer(observer),
      m_pJobObserver(&observer), m_timings(timings), m_nMaxDevices(nMaxDevices),
      m_nRetries(nRetries), m_slotMap(pSlots != nullptr ? *pSlots : m_ownSlots) {}

CParallelAutoLoop::~CParallelAutoLoop() {
    InterruptDevices();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& [strConnector, pSlot] : m_slots) {
        if (pSlot->worker.joinable()) {
            pSlot->worker.join();
        }
    }
}

void CParallelAutoLoop::InterruptDevices() {
    RequestStop();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bInterrupt = true;
    for (auto& [strConnector, pSlot] : m_slots) {
        if (pSlot->pJob) {
            pSlot->pJob->RequestStop();
        }
    }
}

bool CParallelAutoLoop::AnyInFlight() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& [strConnector, pSlot] : m_slots) {
        if (pSlot->worker.joinable()) {
            return true;
        }
    }
    return false;
}

void CParallelAutoLoop::StartDevice(const PortRecord& record, AutoTally& tally) {
    auto pSlot = std::make_unique<Slot>();
    pSlot->unit = UnitOfRecord(record);
    pSlot->unit.strSlot = m_slotMap.LabelOf(record.strConnector);
    m_observer.OnDeviceFound(pSlot->unit);
    auto pPort = std::make_unique<CComPort>(record);
    pPort->SetPortWatcher(m_pWatcher.get());
    auto pSession = std::make_unique<CDeviceSession>(std::move(pPort), m_timings);
    pSlot->pJob =
        std::make_unique<CRetryingJob>(std::move(pSession), pSlot->unit, m_timings, m_nRetries);
    pSlot->pJob->SetPortWatcher(m_pWatcher.get());
    if (m_bInterrupt) {
        pSlot->pJob->RequestStop();
    }
    Slot* pRaw = pSlot.get();
    ++m_nStarted;
    m_slots[record.strConnector] = std::move(pSlot);
    try {
        pRaw->worker = std::thread([this, pRaw, &tally] {
            UpdateRequest request; // each reader's own: its image, status and findings
            request.strFirmwarePath = m_strFirmwarePath;
            request.strApprovedSha256 = m_strApprovedSha256;
            request.optImageVersion = m_optImageVersion;
            request.optImageSigner = m_optImageSigner;
            request.bVerify = m_bVerify;
            request.optExpectVersion = m_optExpectVersion;
            const UpdateOutcome outcome = pRaw->pJob->Run(request, *m_pJobObserver);
            const DeviceUnit last = pRaw->pJob->Unit(); // its last attempt
            {
                std::lock_guard<std::mutex> lock(m_tallyMutex);
                tally.Add(outcome);
                m_observer.OnDeviceDone(last, tally);
            }
            pRaw->unit = last; // read by the loop only once bFinished is seen
            // The read-back already gave the reader its time to come back.
            pRaw->bReturnWaited = request.eVerified != VerifyState::NotChecked;
            pRaw->bFinished.store(true);
        });
    } catch (const std::system_error&) {
        // No thread for this reader: it counts as failed and waits for its removal
        // like a finished one, instead of ending the whole program.
        {
            std::lock_guard<std::mutex> lock(m_tallyMutex);
            tally.nFailed += 1;
            m_observer.OnDeviceDone(pRaw->unit, tally);
        }
        pRaw->pJob.reset();
        pRaw->bAwaitingRemoval = true;
        pRaw->bSeenSinceJob = false;
        pRaw->dwDoneAt = GetTickCount();
    }
}

void CParallelAutoLoop::ReapFinished() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& [strConnector, pSlot] : m_slots) {
        if (pSlot->worker.joinable() && pSlot->bFinished.load()) {
            pSlot->worker.join();
            pSlot->pJob.reset();
            pSlot->bAwaitingRemoval = true;
            pSlot->bSeenSinceJob = pSlot->bReturnWaited;
            pSlot->dwDoneAt = GetTickCount();
        }
    }
}

AutoTally CParallelAutoLoop::Run() {
    AutoTally tally;
    // The root is read here, on the loop's thread, never by the watcher's.
    m_pWatcher = std::make_unique<CPortWatcher>(SysRoot());
    m_observer.OnLoopStarted();
    for (;;) {
        ReapFinished();
        int nFinished = 0;
        {
            std::lock_guard<std::mutex> lock(m_tallyMutex);
            nFinished = tally.Total();
        }
        const bool bCountReached = m_nMaxDevices > 0 && nFinished >= m_nMaxDevices;
        if ((m_bStop.load() || bCountReached) && !AnyInFlight()) {
            break;
        }
        m_observer.OnSearching();
        uint64_t nGeneration = 0;
        const std::vector<PortRecord> ports = m_pWatcher->Snapshot(&nGeneration);
        std::set<std::string> listed;
        for (const PortRecord& record : ports) {
            listed.insert(record.strConnector);
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            // A finished reader's connector is free again once its port has gone.
            for (auto it = m_slots.begin(); it != m_slots.end();) {
                Slot& slot = *it->second;
                const bool bListed = listed.count(it->first) != 0;
                slot.bSeenSinceJob = slot.bSeenSinceJob || (slot.bAwaitingRemoval && bListed);
                const bool bRemoved =
                    slot.bAwaitingRemoval && !bListed &&
                    (slot.bSeenSinceJob || TicksSince(slot.dwDoneAt) > m_timings.nDetectOpenMs);
                if (bRemoved) {
                    m_observer.OnDeviceRemoved(it->second->unit);
                    it = m_slots.erase(it);
                } else {
                    ++it;
                }
            }
            for (const PortRecord& record : ports) {
                const bool bRoom = m_nMaxDevices <= 0 || m_nStarted < m_nMaxDevices;
                if (m_bStop.load() || !bRoom) {
                    break;
                }
                if (m_slots.count(record.strConnector) == 0 &&
                    DescriptionMatches(record.strName, kConverterDescription)) {
                    StartDevice(record, tally);
                }
            }
        }
        // A change wakes it at once; the pause still brings finished jobs and
        // removal deadlines in time.
        m_pWatcher->WaitForChange(nGeneration, kSearchPauseMs);
    }
    m_pWatcher.reset(); // every job has ended
    m_observer.OnLoopEnded(tally);
    return tally;
}

} // namespace fwup
