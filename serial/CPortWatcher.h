#pragma once
// CPortWatcher: one listing of the ports for every job of a process that waits
// for ports to appear or go, kept up to date by one thread: woken by the
// platform's change notices (PortNotices.h) and scanning every
// PortScanIntervalMs() anyway. Readers take the latest listing (no scan of
// their own) and wait for the next change instead of polling.
//
// A port that leaves and comes back between two scans is still seen to have
// left: the watcher counts departures per COM number, from the scans' changes
// and from the notices of removed nodes.
//
// Owned by whoever starts the jobs (a loop), created before them and destroyed
// after them; every method but the constructor and destructor is safe on any
// thread.

#include "serial/PortDiscovery.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fwup {

class IPortNotices;

class CPortWatcher {
public:
    // strRoot: the root the ports are read below (pass SysRoot(), read on the
    // creating thread: the watcher's thread never reads the environment). The
    // first listing is taken here, so Snapshot is valid at once.
    explicit CPortWatcher(const std::string& strRoot);
    // Stops the thread at once (it is woken, not waited out) and joins it.
    ~CPortWatcher();
    CPortWatcher(const CPortWatcher&) = delete;
    CPortWatcher& operator=(const CPortWatcher&) = delete;

    // The latest listing, as ScanPorts() gives it; *pGeneration (may be null)
    // gets its generation.
    std::vector<PortRecord> Snapshot(uint64_t* pGeneration = nullptr) const;
    // Blocks until the generation differs from nGeneration (a change was seen),
    // or dwTimeoutMs passed, or the watcher stops; the generation then.
    uint64_t WaitForChange(uint64_t nGeneration, uint32_t dwTimeoutMs) const;
    // How often port number nPort has left the list since the watcher started.
    uint64_t Departures(int nPort) const;
    // Scans taken, for benchmarks.
    uint64_t Scans() const { return m_nScans.load(); }

private:
    void Run();
    // A scan, with the nodes a notice said went away; under no lock while scanning.
    void Rescan(const std::vector<std::string>& goneNodes);

    const std::string m_strRoot;
    std::unique_ptr<IPortNotices> m_pNotices;
    std::atomic<bool> m_bStop{false};
    std::atomic<uint64_t> m_nScans{0};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<PortRecord> m_ports;      // with m_mutex
    uint64_t m_nGeneration = 0;           // with m_mutex
    std::map<int, uint64_t> m_departures; // COM number -> count, with m_mutex

    std::thread m_thread; // last: started once everything above exists
};

} // namespace fwup
