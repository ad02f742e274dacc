#include "serial/CPortWatcher.h"

#include "serial/Clock.h"
#include "serial/PortNotices.h"

#include <algorithm>
#include <chrono>
#include <set>

namespace fwup {

namespace {

constexpr uint32_t kSettleMs = 20;

} // namespace

CPortWatcher::CPortWatcher(const std::string& strRoot)
    : m_strRoot(strRoot), m_pNotices(MakePortNotices(strRoot)) {
    m_ports = ScanPortsBelow(m_strRoot);
    m_nScans.store(1);
    m_thread = std::thread([this] { Run(); });
}

CPortWatcher::~CPortWatcher() {
    m_bStop.store(true);
    m_pNotices->Wake();
    {
        const std::lock_guard lock(m_mutex);
        ++m_nGeneration; // waiters return now
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::vector<PortRecord> CPortWatcher::Snapshot(uint64_t* pGeneration) const {
    const std::lock_guard lock(m_mutex);
    if (pGeneration != nullptr) {
        *pGeneration = m_nGeneration;
    }
    return m_ports;
}

uint64_t CPortWatcher::WaitForChange(uint64_t nGeneration, uint32_t dwTimeoutMs) const {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(dwTimeoutMs),
                       [&] { return m_nGeneration != nGeneration || m_bStop.load(); });
    return m_nGeneration;
}

uint64_t CPortWatcher::Departures(int nPort) const {
    const std::lock_guard lock(m_mutex);
    const auto it = m_departures.find(nPort);
    return it == m_departures.end() ? 0 : it->second;
}

void CPortWatcher::Run() {
    const uint32_t dwInterval = PortScanIntervalMs();
    uint32_t dwLastScan = GetTickCount();
    std::vector<std::string> goneNodes;
    while (!m_bStop.load()) {
        const uint32_t dwSince = TicksSince(dwLastScan);
        const bool bNotice =
            m_pNotices->Wait(dwSince >= dwInterval ? 0 : dwInterval - dwSince, goneNodes);
        if (m_bStop.load()) {
            break;
        }
        if (bNotice) {
            // Readers restart in crowds on a bench: the notices of a few ms make
            // one scan, not one each.
            while (!m_bStop.load() && m_pNotices->Wait(kSettleMs, goneNodes)) {
            }
        }
        if (bNotice || TicksSince(dwLastScan) >= dwInterval) {
            Rescan(goneNodes);
            goneNodes.clear();
            dwLastScan = GetTickCount();
        }
    }
    m_pNotices->Finish();
}

void CPortWatcher::Rescan(const std::vector<std::string>& goneNodes) {
    std::vector<PortRecord> ports = ScanPortsBelow(m_strRoot);
    m_nScans.fetch_add(1);
    const auto sameListing = [](const std::vector<PortRecord>& a,
                                const std::vector<PortRecord>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](const PortRecord& x, const PortRecord& y) {
                              return x.strName == y.strName && x.strDeviceNode == y.strDeviceNode;
                          });
    };
    bool bChanged = false;
    {
        const std::lock_guard lock(m_mutex);
        std::set<int> present;
        for (const PortRecord& record : ports) {
            present.insert(record.nPort);
        }
        std::set<int> departed;
        for (const PortRecord& record : m_ports) {
            // Gone from the list, or its node removed and back before this scan.
            const bool bNodeGone = std::find(goneNodes.begin(), goneNodes.end(),
                                             record.strDeviceNode) != goneNodes.end();
            if (present.count(record.nPort) == 0 || bNodeGone) {
                departed.insert(record.nPort);
            }
        }
        for (const int nPort : departed) {
            ++m_departures[nPort];
        }
        bChanged = !departed.empty() || !sameListing(m_ports, ports);
        if (bChanged) {
            m_ports = std::move(ports);
            ++m_nGeneration;
        }
    }
    if (bChanged) {
        m_changed.notify_all();
    }
}

} // namespace fwup
