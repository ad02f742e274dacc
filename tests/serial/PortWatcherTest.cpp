// The shared port watcher over pseudo-terminals published below a private root.
#include "serial/CPortWatcher.h"
#include "serial/Clock.h"
#include "sim/CVirtualPort.h"
#include "tests/support/CTempRoot.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// Waits on the watcher's changes until pred holds, up to dwLimitMs.
bool WaitUntil(const fwup::CPortWatcher& watcher, const std::function<bool()>& pred,
               uint32_t dwLimitMs = 5000) {
    const uint32_t dwStart = fwup::GetTickCount();
    while (!pred()) {
        if (fwup::TicksSince(dwStart) >= dwLimitMs) {
            return false;
        }
        uint64_t nGeneration = 0;
        watcher.Snapshot(&nGeneration);
        watcher.WaitForChange(nGeneration, 100);
    }
    return true;
}

TEST(PortWatcher, SeesAReaderThatLeavesAndComesBackBetweenItsScans) {
    fwtest::CTempRoot root(false); // the watcher is given its root, not the environment
    fwsim::VirtualPortConfig config;
    config.strRoot = root.Path();
    config.strUsbPath = "7-1";
    fwsim::CVirtualPort device(config);
    ASSERT_TRUE(device.Plug());
    const fwup::CPortWatcher watcher(root.Path());
    uint64_t nGeneration = 0;
    const std::vector<fwup::PortRecord> ports = watcher.Snapshot(&nGeneration);
    ASSERT_EQ(ports.size(), 1u);
    const int nPort = ports[0].nPort;
    // Nothing changes: the wait ends at its deadline, the generation unchanged.
    EXPECT_EQ(watcher.WaitForChange(nGeneration, 50), nGeneration);

    // Off and on again at once, far quicker than the watcher's periodic scan.
    device.Unplug();
    ASSERT_TRUE(device.Plug());
    EXPECT_TRUE(WaitUntil(watcher, [&] { return watcher.Departures(nPort) == 1; }));
    // Back under the same name and node: only the removal's notice could tell.
    ASSERT_EQ(watcher.Snapshot().size(), 1u);
    EXPECT_EQ(watcher.Snapshot()[0].strDeviceNode, ports[0].strDeviceNode);

    // Gone for good: out of the listing, one departure more.
    device.Unplug();
    EXPECT_TRUE(WaitUntil(watcher, [&] { return watcher.Snapshot().empty(); }));
    EXPECT_EQ(watcher.Departures(nPort), 2u);
}

} // namespace
