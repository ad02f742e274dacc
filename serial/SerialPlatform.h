#pragma once
// The operating system's side of a serial port, kept apart from CComPort's
// portable logic. One source per platform implements it. Results are 0 or the
// platform's error number (errno on Linux, GetLastError on Windows).

#include <cstdint>
#include <string>

namespace fwup {

// An open port as the platform sees it. hNative is opaque to callers: a file
// descriptor on Linux, the platform file's own port record on Windows.
struct SerialHandle {
    intptr_t hNative = -1;            // -1 while closed
    unsigned long long nDeviceId = 0; // identity of the opened node (device number), if any
};

// Opens strNode exclusively (no second open in this or another process) with the
// line settings (115200 8N1, no flow control, DTR and RTS on, immediate-return
// reads, writes bounded by their time-out), verified after applying. dwInQueue/dwOutQueue are the
// driver queue sizes in bytes where the platform takes them.
uint32_t SerialOpen(const std::string& strNode, uint32_t dwInQueue, uint32_t dwOutQueue,
                    SerialHandle& handle);
// Releases the port; the handle ends closed. Closed handles are left alone.
void SerialClose(SerialHandle& handle);
// Never waits. nBytes: in, bytes wanted; out, bytes received. A vanished device
// is a failed read (EIO on Linux; the failing call's error on Windows).
uint32_t SerialRead(const SerialHandle& handle, void* pBuffer, uint32_t& nBytes);
// The longest a write waits when its caller names no time-out.
inline constexpr uint32_t kDefaultWriteTimeoutMs = 5000;
// Waits up to dwTimeoutMs for the driver to take bytes, then returns with what it
// took: a reader that stops reading can never hold the caller. nBytes: in, bytes
// to send; out, bytes written (possibly fewer; 0 when the time ran out, which is
// no error). A vanished device is a failed write.
uint32_t SerialWrite(const SerialHandle& handle, const void* pBuffer, uint32_t& nBytes,
                     uint32_t dwTimeoutMs = kDefaultWriteTimeoutMs);
// True when data is waiting within dwTimeoutMs; blocks instead of spinning. A
// vanished device never has data: the call sleeps out the time so that callers
// that retry until their deadline never spin.
bool SerialWaitReadable(const SerialHandle& handle, uint32_t dwTimeoutMs);

// Why an open failed, read from its error number.
enum class SerialOpenFault {
    kNone,
    kNoSuchPort,       // nothing answers to the name (never was, or gone)
    kHeldElsewhere,    // another program (or object) has the port open
    kPermissionDenied, // the user may not open the node
    kOther,
};
SerialOpenFault ClassifyOpenError(uint32_t dwError);

// The platform's own text for an error number of these calls (UTF-8, no line end).
std::string SerialErrorText(uint32_t dwError);

} // namespace fwup
