#pragma once
// The window program's start: its command line, the records file, the window.
// The shipped program and the test window program share it.

#include "winui/CFwUpgraderVelmoraDlg.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace fwup {

// The command line as UTF-8 texts, without the program's name.
std::vector<std::string> CommandLineArguments();

// Answers --help and --version, opens --record's file, then shows the window
// until it ends; fnPrepare (may be empty) sees the window before it is shown.
// The exit code: 0, or 2 for a wrong command line or a records file that does
// not open (said in a message box).
int RunWindowProgram(HINSTANCE hInstance, const std::vector<std::string>& args,
                     const std::function<void(CFwUpgraderVelmoraDlg&)>& fnPrepare);

} // namespace fwup
