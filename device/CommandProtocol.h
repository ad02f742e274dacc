#pragma once
// The application firmware's ASCII command language ("~rv", "~rS", "~dboot"),
// the boot loader's status query, the switch into the boot loader and device
// detection.
//
// Result codes: 0 = success, -1 = time-out or wrong reply, a positive value = the
// errno of a failed write. Read errors count as "no bytes"; the deadline ends the
// wait. Waits block in CComPort::WaitReadable, never spin. Every wait comes from
// the link's timings; replies are returned by value, so links on different ports
// run concurrently with nothing shared.

#include "device/CDeviceLink.h"
#include "device/CGadgetLib.h"
#include "device/UpdateRequest.h"

#include <cstdint>
#include <optional>
#include <string>

namespace fwup {

inline constexpr uint32_t kReplyBufferSize = 200;     // per reply buffer, terminator included
inline constexpr uint32_t kExchangeBufferSize = 2500; // ExchangeText's buffer

// Writes the command completely, then collects reply bytes one at a time until
// CR LF (included), a full buffer (nCount - 1 bytes, zero-terminated) or the
// command time-out (3000 ms by default).
// nCount: in, the buffer's capacity; out, the bytes received (0 unless result 0).
int Transact(CDeviceLink& link, const void* pCommand, uint32_t nLength, char* pReply,
             uint32_t& nCount);

// "~rv": the version text, or none (time-out, short or wrong reply).
std::optional<std::string> QueryVersion(CDeviceLink& link);
// "~rS": the serial-number text (possibly ""), or none.
std::optional<std::string> QuerySerial(CDeviceLink& link);

// Boot loader status query (00 00 0F 00 00 00 00 00), 3000 ms. 0 with dwValue set
// when answered; -1 on time-out; a positive errno of a failed write.
int PingBootLoader(CDeviceLink& link, uint32_t& dwValue);

// "~dboot", then close, pause (2000 ms), WaitOpen (5000 ms) and query the boot
// loader (twice at most). -1 when the device answered with another line (port left
// open); otherwise 0 with request.nBootInfo = the boot loader's value or -1.
int EnterBootLoader(CDeviceLink& link, UpdateRequest& request);

// 0 = the device answered as boot loader or application; -2 = neither; -4 = the
// port did not open within the detection wait (7000 ms). Sets nBootInfo,
// optVersion and, for an application, status.optSerial. A port it opened itself
// is closed again.
int DetectDevice(CDeviceLink& link, UpdateRequest& request);

// ExchangeBytes with a 2500-byte buffer; the reply up to its first zero byte.
int ExchangeText(GadgetChannel* pChannel, const std::string& strCommand, std::string& strReply);
// Writes the command (may be empty), then reads as much as fits until the data
// ends with CR LF, the buffer is full (nCount - 1 bytes) or the ready wait (5000 ms) passed
// (-1; the bytes so far stay in the buffer, zero-terminated). nCount: in, the
// capacity; out, the bytes received, set only when the result is 0.
int ExchangeBytes(GadgetChannel* pChannel, const void* pCommand, uint32_t nLength, char* pBuffer,
                  uint32_t& nCount);

// Pure reply parsers (used by the queries above, callable by tests).
// pReply holds nCount bytes plus a terminator; the text is cut in place.
const char* ParseVersionReply(char* pReply, uint32_t nCount);
const char* ParseSerialReply(char* pReply, uint32_t nCount);
// The ready text of a received line; bTimedOut hands the text back unchanged.
std::string ParseReadyLine(const std::string& strLine, bool bTimedOut);

} // namespace fwup
