#pragma once
// The operating system's side of a serial port, kept apart from CComPort's
// portable logic. Results are 0 or an errno value.

#include <cstdint>
#include <string>

struct termios;

namespace fwup {

struct SerialHandle {
    int fd = -1;
    unsigned long long nDeviceId = 0; // identity of the opened node (device number)
};

// Opens strNode exclusively with the line settings, verified after applying.
uint32_t SerialOpen(const std::string& strNode, SerialHandle& handle);
void SerialClose(SerialHandle& handle);
// Immediate read; a hang-up is reported as EIO.
uint32_t SerialRead(int fd, void* pBuffer, uint32_t& nBytes);
uint32_t SerialWrite(int fd, const void* pBuffer, uint32_t& nBytes);
// True when data is waiting within dwTimeoutMs. A hung-up port never has data:
// the call sleeps out the time so that callers that retry never spin.
bool SerialWaitReadable(int fd, uint32_t dwTimeoutMs);

// Fills the settings the device needs (115200 8N1, raw, no flow control,
// immediate-return reads) into an existing termios, keeping the rest.
void ApplyLineSettings(termios& tio);
// True when the settings read back from the driver carry everything ApplyLineSettings set.
bool LineSettingsHold(const termios& actual);

} // namespace fwup
