#pragma once
// The window's command line: --help, --version and --record (as the CLI's).

#include <string>
#include <vector>

namespace fwup {

struct WindowOptions {
    bool bHelp = false;
    bool bVersion = false;
    std::string strRecordPath; // --record FILE: one JSON line per finished unit; empty: none
};

// Reads the arguments after the program's name (UTF-8). False, with strError
// naming the problem, for an unknown option or a missing value.
bool ParseWindowOptions(const std::vector<std::string>& args, WindowOptions& options,
                        std::string& strError);

// The text --help shows.
const char* WindowUsageText();

} // namespace fwup
