#pragma once
// Internal: how the collectors wait for bytes without spinning a core.

#include "serial/CComPort.h"

#include <cstdint>

namespace fwup {

// Blocks until the port has input or up to dwMs passed. A closed port can never
// deliver, so the caller's deadline is slept out; a hung-up port likewise
// (WaitReadable sleeps on POLLHUP).
void WaitForInput(CComPort& port, uint32_t dwMs);

// Writes nLength bytes completely; nWritten out. 0 or the errno of the failed write.
int WriteCompletely(CComPort& port, const void* pData, uint32_t nLength, uint32_t& nWritten);

} // namespace fwup
