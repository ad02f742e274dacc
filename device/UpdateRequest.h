#pragma once
// The record that travels between a front end and the update engine: inputs,
// findings and the status handed to every report.

#include "device/ImageSegment.h"
#include "device/UpdateOutcome.h"

#include <cstdint>
#include <optional>
#include <string>

namespace fwup {

enum UpdateStage : int {
    StageStart = 0,      // first report of every job
    StageSuccess = 1,    // last report of a successful job; strMessage = success text
    StageMessage = 2,    // never sent by the job; receivers log strMessage
    StageConnecting = 3, // the port was closed; strMessage = "connecting to <label>"
    StageUpdating = 4,   // detected and loaded; pszSerial and the file fields are set
    StageProgress = 5,   // after every accepted block; nProgress in percent
    StageFailure = 6,    // last report of a failed job; strMessage = the text, strCause = why
    // After a confirmed download, before StageSuccess or the verify failure: once
    // as the wait for the reader's return begins, once with what it reported (or
    // that it did not come back); receivers log strMessage.
    StageVerifying = 7,
};

struct UpdateStatus {
    int32_t nProgress = 0;                // download progress, percent 0..100
    std::string strMessage;               // text of the current stage or outcome
    std::string strFileName;              // file name with extension, no folder
    std::string strFileDate;              // last-write time, UTC, "YYYY.MM.DD hh:mm:ss"
    int32_t nFileSize = 0;                // bytes
    std::optional<std::string> optSerial; // device serial number; none when not read
    std::string strCause; // at StageFailure: one line saying why and what to do; may be empty
};

struct UpdateRequest {
    int32_t nBootInfo = -1;                // boot loader status value, -1 = no answer
    std::optional<std::string> optVersion; // application version text; none when not read
    UpdateStatus status;
    ImageList pSegments;         // the image the download sends (owned)
    std::string strFirmwarePath; // full path of the firmware file; empty = none
    // Lower-case hex SHA-256 that the loaded image must have, before the reader is
    // switched to its boot loader: the sum a station profile's verdict was given
    // for, so a file swapped after that check is refused. Empty: no such check.
    std::string strApprovedSha256;
    // The signed version (version= of its signature's trusted comment) and the key
    // id of the image that verdict verified; none: unsigned or not checked. The
    // job's record names them.
    std::optional<std::string> optImageVersion;
    std::optional<std::string> optImageSigner;
    // Read the reader back after its download (its version and serial number, as
    // Connect asks them); false keeps the original sequence, nothing sent after
    // the finish reply.
    bool bVerify = true;
    // The application version the image brings. A reader already reporting it is
    // not flashed (outcome Current); one reporting another after the download
    // fails (VerifyFailed). None: any version passes.
    std::optional<std::string> optExpectVersion;
    // Findings of the read-back: the version the reader reports after its
    // download (none when not read back) and how the check went.
    std::optional<std::string> optVersionAfter;
    VerifyState eVerified = VerifyState::NotChecked;
};

} // namespace fwup
