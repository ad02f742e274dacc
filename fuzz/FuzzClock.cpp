// The pty targets' clock: every reading advances it by one millisecond and a
// sleep advances it without sleeping. It replaces serial/Clock.cpp in these
// programs (the linker then takes no member of the library for these symbols), so
// a deadline loop runs the same number of rounds on every run (the port's own
// waits for data or room read this clock too): with a fixed seed the exploration
// is repeatable, whatever the machine's load. The device side is
// the fuzz input, queued before the host reads, so no real waiting is needed.
#include "serial/Clock.h"

#include <atomic>

namespace fwup {

namespace {
std::atomic<uint32_t> g_dwNow{0};
}

uint32_t GetTickCount() {
    return g_dwNow.fetch_add(1) + 1;
}

void SleepMs(uint32_t dwMs) {
    g_dwNow.fetch_add(dwMs);
}

} // namespace fwup
