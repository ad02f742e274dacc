#pragma once
// What both window drivers of the test window program need of Win32: a
// control's text, the dialog a window has opened, and the report file.

#include <windows.h>

#include <string>
#include <vector>

namespace fwup {

// A window's text, as UTF-16 and as UTF-8.
std::wstring TextOf(HWND hWnd);
std::string Utf8TextOf(HWND hWnd);
// A visible dialog of this thread owned by hOwner (a message box, the About
// box, the open-file dialog); nullptr when none is up.
HWND FindOwnedDialog(HWND hOwner);
// Writes lines to strPath (UTF-8, one a line) under a temporary name and renames
// it, so that the reader never sees half a report. False when either step failed.
bool WriteReportFile(const std::string& strPath, const std::vector<std::string>& lines);

} // namespace fwup
