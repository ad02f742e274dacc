#pragma once
// The bench window's command line, the same for both toolkits:
//   --bench [--file FW.bin] [--record STORE] [--station NAME] [--slots FILE] [--retries N]
//   [--profile FILE] [--expect-version V] [--no-verify] (either window)

#include "station/StationProfile.h"

#include <optional>
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
    bool bRetriesGiven = false;  // --retries stood on the command line
    std::string strProfilePath;  // --profile: the station profile; empty: the default place's
    // --expect-version (or the profile's expect_version): the version the image
    // brings; empty: any. Either window.
    std::string strExpectVersion;
    bool bVerify = true; // false: --no-verify, nothing sent after the finish reply. Either window.
    // The station profile that applies, after ApplyWindowProfile; none when there is none.
    std::optional<StationProfile> optProfile;

    // A locked profile's image is the only one either window may load.
    bool IsImageLocked() const { return optProfile && optProfile->bLocked; }
    std::optional<std::string> ExpectVersion() const {
        return strExpectVersion.empty() ? std::nullopt : std::optional(strExpectVersion);
    }
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

// Reads the station profile (options.strProfilePath, else the default place's
// when a file is there) and fills in what the options left open: station, store,
// slots, retries and image. Unlocked, a given option wins; locked, one that
// contradicts it is refused. False with strError ("FILE:LINE: ...", "locked by
// the station profile ...", or a locked profile the user may write, with what
// to fix): the window must not open. Before the records are opened.
bool ApplyWindowProfile(BenchOptions& options, std::string& strError);

// The lines --help shows for these options.
const char* BenchUsageText();

} // namespace fwup
