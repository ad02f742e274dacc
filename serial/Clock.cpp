#include "serial/Clock.h"

#include <chrono>
#include <thread>

namespace fwup {

uint32_t GetTickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SleepMs(uint32_t dwMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMs));
}

} // namespace fwup
