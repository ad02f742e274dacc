#pragma once
// The bench window's command line, the same for both toolkits:
//   --bench [--file FW.bin] [--record STORE] [--station NAME] [--slots FILE] [--retries N]

#include <string>
#include <vector>

namespace fwup {

struct BenchOptions {
    bool bBench = false;         // --bench: the bench window instead of the main window
    std::string strFirmwarePath; // --file: the image loaded at the start; empty: none
    std::string strRecordStore;  // --record: where unit records go; empty: none
    std::string strStation;      // --station: the bench's name, shown and recorded
    std::string strSlotsPath;    // --slots: "CONNECTOR LABEL" lines; empty: "Slot N" by first sight
    int nRetries = 0;            // --retries: further attempts after a failed one, 0..kMaxRetries
};

// The environment variable that may give the record store instead of --record
// (--record wins), so that a password in it never stands in the process's
// command line: the main window's "Bench..." hands its store to the bench
// process this way.
inline constexpr const char* kRecordStoreVariable = "FWUP_RECORD_STORE";

// Reads the bench's options among args (the arguments after the program's name,
// UTF-8). Other arguments (--help, the toolkit's own) are left to the caller. False,
// with strError naming the problem, for a missing or bad value, or for --file,
// --station, --slots or --retries without --bench. --record alone is the main
// window's and is read here too; without it, $FWUP_RECORD_STORE when set.
bool ParseBenchOptions(const std::vector<std::string>& args, BenchOptions& options,
                       std::string& strError);

// The lines --help shows for these options.
const char* BenchUsageText();

} // namespace fwup
