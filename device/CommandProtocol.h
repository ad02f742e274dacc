#pragma once
// The application firmware's ASCII command language ("~rv", "~rS", "~dboot"),
// the boot loader's status query, the switch into the boot loader and device
// detection.
//
// Result codes: 0 = success, -1 = time-out or wrong reply, a positive value = the
// errno of a failed write. Read errors count as "no bytes"; the deadline ends the
// wait. Waits block in CComPort::WaitReadable, never spin.
//
// The version, serial and boot-entry replies live in process-wide 200-byte
// buffers; QueryVersion/QuerySerial return pointers into them that stay valid
// until the next query of the same kind. Every operation here holds
// DeviceProtocolMutex() while it runs, and RunUpdate holds it for a whole job, so
// only one user talks to devices at a time. A caller that keeps a returned pointer
// across other threads' queries must copy the text while it holds the mutex.

#include "device/CDeviceLink.h"
#include "device/CGadgetLib.h"
#include "device/UpdateRequest.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace fwup {

inline constexpr uint32_t kReplyBufferSize = 200;     // per reply buffer, terminator included
inline constexpr uint32_t kExchangeBufferSize = 2500; // ExchangeText's buffer
inline constexpr uint32_t kCommandTimeoutMs = 3000;   // command reply, status query
inline constexpr uint32_t kReadyTimeoutMs = 5000;     // ready line
inline constexpr uint32_t kBootPauseMs = 2000;        // after closing for the boot loader
inline constexpr uint32_t kBootReturnMs = 5000;       // port's return after the pause
inline constexpr uint32_t kDetectOpenMs = 7000;       // port at the start of detection / a job

// Serialises every user of the process-wide protocol buffers (recursive: a job's
// own calls nest). A front end must not call into this layer from a thread that
// the running job's status callback waits on; use std::try_to_lock when unsure.
std::recursive_mutex& DeviceProtocolMutex();

// Writes the command completely, then collects reply bytes one at a time until
// CR LF (included), a full buffer (nCount - 1 bytes, zero-terminated) or 3000 ms.
// nCount: in, the buffer's capacity; out, the bytes received (0 unless result 0).
int Transact(CDeviceLink& link, const void* pCommand, uint32_t nLength, char* pReply,
             uint32_t& nCount);

// "~rv": the version text, or nullptr (time-out, short or wrong reply).
const char* QueryVersion(CDeviceLink& link);
// "~rS": the serial-number text (possibly ""), or nullptr.
const char* QuerySerial(CDeviceLink& link);

// Boot loader status query (00 00 0F 00 00 00 00 00), 3000 ms. 0 with dwValue set
// when answered; -1 on time-out; a positive errno of a failed write.
int PingBootLoader(CDeviceLink& link, uint32_t& dwValue);

// "~dboot", then close, pause 2000 ms, WaitOpen(5000) and query the boot loader
// (twice at most). -1 when the device answered with another line (port left open);
// otherwise 0 with request.nBootInfo = the boot loader's value or -1.
int EnterBootLoader(CComPort& port, UpdateRequest& request);

// 0 = the device answered as boot loader or application; -2 = neither; -4 = the
// port did not open within 7000 ms. Sets nBootInfo, pszVersion and, for an
// application, status.pszSerial. A port it opened itself is closed again.
int DetectDevice(CComPort& port, UpdateRequest& request);

// ExchangeBytes with a 2500-byte buffer; the reply up to its first zero byte.
int ExchangeText(GadgetChannel* pChannel, const std::string& strCommand, std::string& strReply);
// Writes the command (may be empty), then reads as much as fits until the data
// ends with CR LF, the buffer is full (nCount - 1 bytes) or 5000 ms passed
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
