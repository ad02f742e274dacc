#pragma once
// Code-page conversions and the small dialogs both native windows share.

#include <windows.h>

#include <optional>
#include <string>

namespace fwup {

// Text from the device (version, serial number), in the thread's ANSI code page.
std::wstring WideFromDevice(const std::string& strText);

// The message boxes' caption: the program's file name without its extension.
const std::wstring& ProgramName();

// The open-file dialog for a firmware image (*.bin, then all files), modal to
// hOwner; the chosen path as UTF-8, none when cancelled.
std::optional<std::string> AskFirmwareFileDialog(HWND hOwner);

} // namespace fwup
