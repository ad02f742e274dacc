#pragma once
// The window's command line: --help, --version, --record (as the CLI's) and the
// bench window's options (--bench [--file] [--station] [--slots] [--retries]).

#include "windowmodel/BenchOptions.h"

#include <string>
#include <vector>

namespace fwup {

struct WindowOptions {
    bool bHelp = false;
    bool bVersion = false;
    // --record STORE (strRecordStore: where each finished unit is recorded; empty: none)
    // and, with --bench, the bench window's options.
    BenchOptions bench;
};

// Reads the arguments after the program's name (UTF-8). False, with strError
// naming the problem, for an unknown option, a missing or bad value, or a bench
// option without --bench.
bool ParseWindowOptions(const std::vector<std::string>& args, WindowOptions& options,
                        std::string& strError);

// The text --help shows.
std::string WindowUsageText();

} // namespace fwup
