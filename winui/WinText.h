#pragma once
// Code-page conversions of the native window's texts.

#include <string>

namespace fwup {

// Text from the device (version, serial number), in the thread's ANSI code page.
std::wstring WideFromDevice(const std::string& strText);

} // namespace fwup
