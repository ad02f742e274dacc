#pragma once
// Windows only: the device's line settings in DCB terms (SerialPlatformWin.cpp).

#include <windows.h>

namespace fwup {

// Sets what the device needs into a DCB read from the driver: 115200 baud, 8
// data bits, no parity, 1 stop bit, binary, no flow control of any kind, DTR
// and RTS on while open. In the flag word bits 0, 4 and 12 end set, bits 1-3,
// 5-11, 13 and 14 cleared; bits 15-31 and the other fields keep the driver's values.
void ApplyLineSettings(DCB& dcb);

// True when a DCB read back from the driver carries the speed, framing and
// absence of flow control that ApplyLineSettings set.
bool LineSettingsHold(const DCB& actual);

} // namespace fwup
