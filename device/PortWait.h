#pragma once
// Internal: how the collectors wait for bytes without spinning a core.

#include "device/CDeviceLink.h"
#include "serial/CComPort.h"

#include <cerrno>
#include <cstdint>

namespace fwup {

// Blocks until the port has input or up to dwMs passed. A closed port can never
// deliver, so the caller's deadline is slept out; a hung-up port likewise
// (WaitReadable sleeps on POLLHUP).
void WaitForInput(CComPort& port, uint32_t dwMs);

// The waits of the command protocol: like WaitForInput on the link's port, but in
// slices of at most kStopCheckMs so a stop request ends them early. Callers test
// link.StopRequested() and give up as on a time-out. (The block download never
// uses these: a packet in flight always gets its reply.)
inline constexpr uint32_t kStopCheckMs = 50;
void WaitForInputUnlessStopped(CDeviceLink& link, uint32_t dwMs);
// Sleeps dwMs, or until a stop request.
void SleepUnlessStopped(CDeviceLink& link, uint32_t dwMs);
// CComPort::WaitOpen that also ends on a stop request; true when open.
bool WaitOpenUnlessStopped(CDeviceLink& link, uint32_t dwTimeoutMs);

// Writes nLength bytes completely within dwTimeoutMs; nWritten out. 0, the errno
// of the failed write, or kWriteStalled when the reader stopped taking bytes: the
// time ran out, or a stop request came while a slice moved nothing (a line that
// still moves bytes is never cut by a stop request).
inline constexpr int kWriteStalled = ETIMEDOUT;
int WriteCompletely(CDeviceLink& link, const void* pData, uint32_t nLength, uint32_t& nWritten,
                    uint32_t dwTimeoutMs);
// The time a packet of nBytes may take on the wire at 115200 baud (10 bits a
// byte), rounded up, in ms: added to a packet's wait so a paced line never
// reaches it.
uint32_t WireTimeMs(uint32_t nBytes);

} // namespace fwup
