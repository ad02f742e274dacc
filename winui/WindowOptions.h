#pragma once
// The window's command line. Besides --help, --version and --record (as the
// CLI's), the test hook: with --test-port and --test-file the window drives
// itself through its own controls once it is shown (CTestDriver).

#include <string>
#include <vector>

namespace fwup {

struct WindowOptions {
    bool bHelp = false;
    bool bVersion = false;
    std::string strRecordPath; // --record FILE: one JSON line per finished unit; empty: none
    std::string strTestPort;   // --test-port COMn: the port the hook chooses
    std::string strTestFile;   // --test-file PATH: the image it loads and sends
    std::string strTestReport; // --test-report FILE: where it writes what it saw; may be empty
    bool bTestAuto = false;    // --test-auto: the hook runs auto mode instead of UPLOAD

    bool TestHookOn() const { return !strTestPort.empty(); }
};

// Reads the arguments after the program's name (UTF-8). False, with strError
// naming the problem, for an unknown option, a missing value, a test hook given
// only one of --test-port and --test-file, or --test-auto without a report
// (the hook and its caller meet through files next to it).
bool ParseWindowOptions(const std::vector<std::string>& args, WindowOptions& options,
                        std::string& strError);

// The text --help shows.
const char* WindowUsageText();

} // namespace fwup
