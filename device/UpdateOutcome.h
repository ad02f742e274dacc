#pragma once
// The one vocabulary for how an update ended: what happened, where, and the
// detail that says why. The operator's texts and the CLI's exit codes are
// derived from it here and nowhere else.

#include <cstdint>
#include <string>

namespace fwup {

enum class OutcomeKind {
    Success,            // "FW Update Successful! ..."
    CheckConnection,    // "check connection": the port did not open
    NotDetected,        // "device not detected": nothing answered as application or boot loader
    InvalidFirmware,    // "invalid firmware file"
    BootFailed,         // "boot loader failed. check connection"
    CommunicationError, // "Communication Error": the download failed
    Interrupted,        // stopped on request at a packet boundary (device left in its boot loader)
    VerifyFailed,       // "verify failed": after the download the reader reports another version
    Current,            // "current": the reader already runs the expected version; nothing sent
};

// The step of the job where the outcome was decided.
enum class OutcomeStep {
    None,
    OpenPort,     // waiting for and opening the port
    Detect,       // status query, "~rv", "~rS"
    LoadFirmware, // reading the image file
    EnterBoot,    // "~dboot" and the boot loader's return
    Handshake,    // area flags, start, info and go packets
    Block,        // a data packet
    Finish,       // the finish packet
    PortGone,     // waiting for the port to go after the download
    Verify,       // reading the reader's version back after the download
};

// Whether the reader was read back after its download: Yes, it answered as its
// application (with the expected version, when one was given); No, it did not
// come back in time (or came back in its boot loader); NotChecked, no download
// completed or verification was off.
enum class VerifyState { NotChecked, Yes, No };

struct UpdateOutcome {
    OutcomeKind eKind = OutcomeKind::Success;
    OutcomeStep eStep = OutcomeStep::None;
    int nErrno = 0;         // errno of the failed open, read or write; 0 when none
    int nDeviceStatus = -1; // status word the device answered; -1 when none
    int nBlock = 0;         // data packet number from 1; 0 when none
    int nDownloadCode = 0;  // the block download's result code; 0 when none
    std::string strCause;   // one line: why, and what to do; empty when nothing is known

    // Only a completed download: "current" sent nothing and is not a pass.
    bool Succeeded() const { return eKind == OutcomeKind::Success; }
};

// The operator's text for an outcome (exact wording of the device tool).
const char* OutcomeText(OutcomeKind eKind);
// The CLI's exit code: 0 success and current, 10..14 and 17 the failures, 130
// interrupted.
int OutcomeExitCode(OutcomeKind eKind);
// The kind whose text is strText; false for a text no outcome has.
bool OutcomeKindFromText(const std::string& strText, OutcomeKind& eKind);
// A one-line cause of a failed block download from the detail the loader
// recorded in outcome (step, code, block, status, errno); waits in ms name the limit.
std::string DescribeDownloadFailure(const UpdateOutcome& outcome, uint32_t nPacketMs,
                                    uint32_t nHandshakeMs);
// A stable lower-case word for each kind, as records store it: "passed", "current",
// "stopped", "verify_failed", "communication_error", ...
const char* OutcomeCode(OutcomeKind eKind);
// The record's word for a verification state: "yes", "no", "not checked".
const char* VerifyStateText(VerifyState eState);
// "Input/output error (errno 5)".
std::string ErrnoText(int nErrno);

} // namespace fwup
