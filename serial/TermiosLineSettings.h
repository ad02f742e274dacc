#pragma once
// Linux only: the device's line settings in termios terms (SerialPlatformLinux.cpp).

struct termios;

namespace fwup {

// Fills the settings the device needs (115200 8N1, raw, no flow control,
// immediate-return reads) into an existing termios, keeping the rest.
void ApplyLineSettings(termios& tio);
// True when the settings read back from the driver carry everything ApplyLineSettings set.
bool LineSettingsHold(const termios& actual);

} // namespace fwup
