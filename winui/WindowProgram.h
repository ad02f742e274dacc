#pragma once
// The window program's start: its command line, the records file, the window.
// The shipped program and the test window program share it.

#include "winui/CBenchDlg.h"
#include "winui/CFwUpgraderVelmoraDlg.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace fwup {

// The command line as UTF-8 texts, without the program's name.
std::vector<std::string> CommandLineArguments();

// What a test program sees of the windows before they are shown (each may be empty).
struct WindowHooks {
    std::function<void(CFwUpgraderVelmoraDlg&)> fnPrepare;
    std::function<void(CBenchDlg&)> fnPrepareBench;
};

// Answers --help and --version, opens --record's file, then shows the window
// (with --bench the bench window) until it ends. The exit code: 0, or 2 for a
// wrong command line, a records file that does not open or a bench window that
// could not open (a malformed slots file; each said in a message box).
int RunWindowProgram(HINSTANCE hInstance, const std::vector<std::string>& args,
                     const WindowHooks& hooks);

} // namespace fwup
