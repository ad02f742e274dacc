#pragma once
// The CLI's few platform calls: console set-up, the command line, terminals and
// Ctrl-C. One source per OS (ConsolePosix.cpp, ConsoleWin.cpp).

#include <cstdio>
#include <string>
#include <vector>

namespace fwup::cli {

// Prepares the console for UTF-8 output (Windows); call first.
void InitConsole();

// The command line as UTF-8 texts, program name first (Windows reads the UTF-16
// command line, so paths outside the ANSI code page survive).
std::vector<std::string> CommandLineArgs(int argc, char** argv);

// True when the stream is an interactive terminal (a progress bar instead of percent lines).
bool IsTerminal(std::FILE* pStream);

// Ctrl-C (also SIGTERM, Ctrl-Break) sets the flag that StopRequested reads; the
// second one ends the process at once.
void InstallStopHandler();
bool StopRequested();

// One line for the usage text: where the listed ports come from.
const char* PortSourceNote();

} // namespace fwup::cli
