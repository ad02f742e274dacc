#pragma once
// Millisecond tick count and sleeping, the only time sources of the core.

#include <cstdint>

namespace fwup {

// Milliseconds from an arbitrary start, 32 bits, wrapping. Measure waits as the
// unsigned difference of two readings so the wrap never disturbs them.
uint32_t GetTickCount();

// Suspends the calling thread for dwMs milliseconds.
void SleepMs(uint32_t dwMs);

// Milliseconds passed since dwStart (wrap-safe).
inline uint32_t TicksSince(uint32_t dwStart) {
    return GetTickCount() - dwStart;
}

// Milliseconds left until dwDeadline, 0 once it has passed (wrap-safe for spans < 2^31 ms).
inline uint32_t TicksUntil(uint32_t dwDeadline) {
    const int32_t nLeft = static_cast<int32_t>(dwDeadline - GetTickCount());
    return nLeft > 0 ? static_cast<uint32_t>(nLeft) : 0;
}

} // namespace fwup
