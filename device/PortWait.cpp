#include "device/PortWait.h"

#include "serial/Clock.h"

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

int WriteCompletely(CComPort& port, const void* pData, uint32_t nLength, uint32_t& nWritten) {
    const auto* pBytes = static_cast<const uint8_t*>(pData);
    nWritten = 0;
    while (nWritten < nLength) {
        uint32_t nChunk = nLength - nWritten;
        const uint32_t dwError = port.Write(pBytes + nWritten, nChunk);
        nWritten += nChunk;
        if (dwError != 0) {
            return static_cast<int>(dwError);
        }
        if (nChunk == 0) {
            // An untimed write that moves nothing will not move anything on a retry.
            return EIO;
        }
    }
    return 0;
}

} // namespace fwup
