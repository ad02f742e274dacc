#pragma once
// The platform's notices that the port list may have changed, for CPortWatcher:
// Linux inotify on the device folder below the root, Windows device-change
// notices to a message-only window. Where none come, the watcher's periodic
// scan still sees every change, later.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fwup {

class IPortNotices {
public:
    virtual ~IPortNotices() = default;
    // Waits up to dwTimeoutMs for a notice or Wake(). Appends the device nodes a
    // notice reported removed (a node that went and came back between two scans
    // is still told). True when a notice came (the list may have changed).
    // Called on one thread only, the watcher's.
    virtual bool Wait(uint32_t dwTimeoutMs, std::vector<std::string>& goneNodes) = 0;
    // Any thread: ends the current or next Wait at once.
    virtual void Wake() = 0;
    // On the waiting thread, as it ends: lets go of what Wait set up there.
    virtual void Finish() {}
};

// The notices for the ports below strRoot (Linux: <strRoot>/dev; unused on Windows).
// Never null: without notices, Wait only waits.
std::unique_ptr<IPortNotices> MakePortNotices(const std::string& strRoot);
// How often the watcher scans the ports anyway, in ms: the safety net for a notice
// that never came.
uint32_t PortScanIntervalMs();

} // namespace fwup
