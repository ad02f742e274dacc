#pragma once
// CParallelAutoLoop: the bench loop for several readers at once. Every reader's
// converter that appears gets its own session and thread and the same sequence
// as the one-device loop: update, then wait until its port has gone before that
// connector is taken again. Reports come from several threads at once: the
// observer must be safe for that. Every unit carries its slot's label.
//
// Retries (nRetries > 0): a reader whose job ended in "Communication Error" or
// "boot loader failed. check connection" and that is still listed is run again
// (CRetryingJob), up to nRetries more times, before it counts. RequestStop takes
// no new reader, but a reader in flight still gets its retries: the operator
// asked to finish the bench, not to leave a unit half-tried. InterruptDevices
// ("Stop now") stops the attempt in flight and allows no further one.

#include "device/ProtocolTimings.h"
#include "serial/CPortWatcher.h"
#include "workflows/CRetryingJob.h"
#include "workflows/CSlotMap.h"
#include "workflows/IAutoObserver.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace fwup {

class CParallelAutoLoop {
public:
    // strFirmwarePath: the image every reader gets (each job loads it itself).
    // nMaxDevices: stop after that many devices have finished (0: no limit).
    // nRetries: further attempts for a retryable failure (0: none). pSlots: the
    // slot labels, borrowed for the loop's life; null: labels by first sight
    // ("Slot 1", "Slot 2", ... in the order connectors are first seen).
    CParallelAutoLoop(std::string strFirmwarePath, IAutoObserver& observer,
                      const ProtocolTimings& timings = {}, int nMaxDevices = 0, int nRetries = 0,
                      CSlotMap* pSlots = nullptr);
    ~CParallelAutoLoop(); // InterruptDevices(), then waits for every thread
    CParallelAutoLoop(const CParallelAutoLoop&) = delete;
    CParallelAutoLoop& operator=(const CParallelAutoLoop&) = delete;

    // The jobs' reports (OnStage, OnJobEnded, OnRetry) go to observer instead of
    // the loop's observer: a wrapper that passes them on, such as the recording
    // observer. Borrowed for the loop's life; before Run.
    void SetJobObserver(IUpdateObserver& observer) { m_pJobObserver = &observer; }
    // Every job's UpdateRequest::strApprovedSha256 (empty: none). Before Run.
    void SetApprovedSha256(const std::string& strSha256) { m_strApprovedSha256 = strSha256; }
    // Every job's UpdateRequest::optImageVersion and optImageSigner. Before Run.
    void SetImageSignature(const std::optional<std::string>& optVersion,
                           const std::optional<std::string>& optSigner) {
        m_optImageVersion = optVersion;
        m_optImageSigner = optSigner;
    }

    // Every job's UpdateRequest::bVerify and optExpectVersion. Before Run.
    void SetReadBack(bool bVerify, const std::optional<std::string>& optExpectVersion) {
        m_bVerify = bVerify;
        m_optExpectVersion = optExpectVersion;
    }

    // Runs on the calling thread until stopped (and every device in flight has
    // finished) or nMaxDevices have finished; the devices it counted.
    AutoTally Run();
    // No new device; the devices in flight finish their jobs. Lock-free: safe
    // from a signal handler.
    void RequestStop() { m_bStop.store(true); }
    // RequestStop, and every device in flight stops at its next packet boundary.
    // Any thread, not a signal handler.
    void InterruptDevices();

private:
    struct Slot {
        DeviceUnit unit;
        std::unique_ptr<CRetryingJob> pJob; // while the update (and its retries) runs
        std::thread worker;
        std::atomic<bool> bFinished{false};
        bool bAwaitingRemoval = false; // finished; taken again once its port has gone
        // A reader restarts after its download: its port goes and comes back before
        // the operator takes it off. Absence counts as removal once the port has
        // been seen again since the job, or when it stays away past the wait for a
        // port to appear (nDetectOpenMs).
        bool bSeenSinceJob = false;
        uint32_t dwDoneAt = 0;
        bool bReturnWaited = false; // the job's read-back waited for the return already
    };

    void StartDevice(const PortRecord& record, AutoTally& tally);
    void ReapFinished();
    bool AnyInFlight() const;

    std::string m_strFirmwarePath;
    std::string m_strApprovedSha256;
    std::optional<std::string> m_optImageVersion;
    std::optional<std::string> m_optImageSigner;
    bool m_bVerify = true;
    std::optional<std::string> m_optExpectVersion;
    IAutoObserver& m_observer;
    IUpdateObserver* m_pJobObserver; // the jobs' reports: m_observer unless set
    ProtocolTimings m_timings;
    int m_nMaxDevices;
    int m_nRetries;
    CSlotMap m_ownSlots; // when none is given
    CSlotMap& m_slotMap;
    std::atomic<bool> m_bStop{false};
    // The one listing of the ports every job and the loop read, while Run runs;
    // before the slots, so that their jobs' ports go first.
    std::unique_ptr<CPortWatcher> m_pWatcher;
    mutable std::mutex m_mutex; // the slots, the started count and m_bInterrupt
    std::map<std::string, std::unique_ptr<Slot>> m_slots; // by connector
    int m_nStarted = 0;
    bool m_bInterrupt = false;
    std::mutex m_tallyMutex; // tally updates from the workers

    static_assert(std::atomic<bool>::is_always_lock_free, "RequestStop runs in signal handlers");
};

} // namespace fwup
