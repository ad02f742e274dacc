#pragma once
// The station profile: one TOML file that fixes a bench's station name, record
// store, slots, retries, image and the rules an image must pass. Found by
// --profile FILE, else at DefaultProfilePath(). Command-line options override it
// unless it is locked; a locked profile refuses contradicting options.

#include "device/ImageSignature.h"

#include <optional>
#include <string>
#include <vector>

namespace fwup {

inline constexpr int kMaxProfileRetries = 100; // the same bound as --retries

struct StationProfile {
    std::string strPath; // the file it was read from
    std::optional<std::string> optStation;
    std::optional<std::string> optRecord; // a store as --record names it; files as slots
    std::optional<std::string> optSlots;  // relative paths are taken from the profile's folder
    std::optional<int> optRetries;        // 0..kMaxProfileRetries
    std::optional<std::string> optImage;  // relative paths are taken from the profile's folder
    std::optional<std::string> optExpectVersion; // a signed version other than this is refused
    std::vector<MinisignPublicKey> trustedKeys;
    bool bRequireSignature = false;         // needs trustedKeys
    std::vector<std::string> allowedSha256; // lower-case hex; empty: any sum
    bool bLocked = false;
};

// Parses strText (the file's content; strPath names it in messages and anchors
// relative paths). False with strError as "FILE:LINE: what is wrong".
bool ParseStationProfile(const std::string& strText, const std::string& strPath,
                         StationProfile& profile, std::string& strError);
// Reads and parses the file. False with strError ("FILE: cannot be read" or as above).
bool LoadStationProfile(const std::string& strPath, StationProfile& profile, std::string& strError);

// The profile that applies: strGiven's (--profile), else the default place's when
// a file is there (bFound false and true returned when none is). False with
// strError when the file cannot be read or is malformed.
bool FindStationProfile(const std::string& strGiven, StationProfile& profile, bool& bFound,
                        std::string& strError);

// Where a station's profile lives when no --profile names one: on Linux
// $FWUP_SYSROOT/etc/fwupgrader/station.toml (FWUP_SYSROOT defaults to /, tests
// point it elsewhere); on Windows %ProgramData%\fwupgrader\station.toml.
std::string DefaultProfilePath();
// True when the current user may change the file, with strCause telling the
// administrator what to fix. A locked profile that its operator can edit locks nothing.
bool ProfileWritableByUser(const std::string& strPath, std::string& strCause);

// What the command line asked for; none where an option was not given.
struct StationSettings {
    std::optional<std::string> optStation;
    std::optional<std::string> optRecord;
    std::optional<std::string> optSlots;
    std::optional<int> optRetries;
    std::optional<std::string> optImage;
    std::optional<std::string> optExpectVersion;
};

// Fills in what the command line left open from the profile. Unlocked, a given
// option wins. Locked, an option that contradicts the profile is refused: false
// with strError "locked by the station profile FILE: --x ... (the profile says ...)",
// and a locked profile the current user may write is refused with its cause.
bool MergeStationProfile(const StationProfile& profile, StationSettings& settings,
                         std::string& strError);

} // namespace fwup
