#include "device/PortWait.h"

#include "serial/Clock.h"

#include <algorithm>
#include <cerrno>

namespace fwup {

void WaitForInput(CComPort& port, uint32_t dwMs) {
    if (dwMs == 0) {
        return;
    }
    if (!port.IsOpen()) {
        SleepMs(dwMs);
        return;
    }
    port.WaitReadable(dwMs);
}

void WaitForInputUnlessStopped(CDeviceLink& link, uint32_t dwMs) {
    if (!link.StopRequested()) {
        WaitForInput(link.Port(), std::min(dwMs, kStopCheckMs));
    }
}

void SleepUnlessStopped(CDeviceLink& link, uint32_t dwMs) {
    const uint32_t dwStart = GetTickCount();
    for (uint32_t dwPassed = 0; dwPassed < dwMs && !link.StopRequested();
         dwPassed = TicksSince(dwStart)) {
        SleepMs(std::min(dwMs - dwPassed, kStopCheckMs));
    }
}

bool WaitOpenUnlessStopped(CDeviceLink& link, uint32_t dwTimeoutMs) {
    CComPort& port = link.Port();
    const uint32_t dwStart = GetTickCount();
    // WaitOpen polls the port list every 100 ms; one poll at a time keeps a stop
    // request's delay to that poll.
    while (!port.IsOpen() && !link.StopRequested() && TicksSince(dwStart) < dwTimeoutMs) {
        port.WaitOpen(std::min<uint32_t>(dwTimeoutMs - TicksSince(dwStart), 100));
    }
    return port.IsOpen();
}

int WriteCompletely(CDeviceLink& link, const void* pData, uint32_t nLength, uint32_t& nWritten,
                    uint32_t dwTimeoutMs) {
    CComPort& port = link.Port();
    const auto* pBytes = static_cast<const uint8_t*>(pData);
    const uint32_t dwStart = GetTickCount();
    nWritten = 0;
    while (nWritten < nLength) {
        const uint32_t dwPassed = TicksSince(dwStart);
        if (dwPassed >= dwTimeoutMs) {
            return kWriteStalled;
        }
        // In slices, so a stop request is seen while the reader does not read.
        uint32_t nChunk = nLength - nWritten;
        const uint32_t dwError =
            port.Write(pBytes + nWritten, nChunk, std::min(dwTimeoutMs - dwPassed, kStopCheckMs));
        nWritten += nChunk;
        if (dwError != 0) {
            return static_cast<int>(dwError);
        }
        if (nChunk == 0 && link.StopRequested()) {
            return kWriteStalled;
        }
    }
    return 0;
}

uint32_t WireTimeMs(uint32_t nBytes) {
    return static_cast<uint32_t>((static_cast<uint64_t>(nBytes) * 10 * 1000 + 115199) / 115200);
}

} // namespace fwup
