#include "device/UpdateOutcome.h"

#include "device/CBlockLoader.h"

#include <cerrno>
#include <optional>
#include <system_error>

namespace fwup {

namespace {

struct OutcomeRow {
    OutcomeKind eKind;
    const char* pszText;
    int nExitCode;
    const char* pszCode;
};

constexpr const char* kSuccessText =
    "FW Update Successful!\nPlease disconnect the USB cable and turn your Tarnic's power off & "
    "on before use.";

constexpr OutcomeRow kRows[] = {
    {OutcomeKind::Success, kSuccessText, 0, "passed"},
    {OutcomeKind::CheckConnection, "check connection", 10, "check_connection"},
    {OutcomeKind::NotDetected, "device not detected", 11, "not_detected"},
    {OutcomeKind::InvalidFirmware, "invalid firmware file", 12, "invalid_firmware"},
    {OutcomeKind::BootFailed, "boot loader failed. check connection", 13, "boot_failed"},
    {OutcomeKind::CommunicationError, "Communication Error", 14, "communication_error"},
    // Ctrl-C's conventional status (128 + SIGINT).
    {OutcomeKind::Interrupted, "interrupted", 130, "stopped"},
    // 15 and 16 are the CLI's own (auto: some failed; a record lost).
    {OutcomeKind::VerifyFailed, "verify failed", 17, "verify_failed"},
    // The unit is as it should be: a script that asks for a version gets 0.
    {OutcomeKind::Current, "current", 0, "current"},
};

constexpr const OutcomeRow* FindRow(OutcomeKind eKind) {
    for (const OutcomeRow& row : kRows) {
        if (row.eKind == eKind) {
            return &row;
        }
    }
    return nullptr;
}

// The kinds in order. The switch names every kind, and a kind it misses stops the
// build, so a kind added without a row cannot pass the assertion below.
#pragma GCC diagnostic push
#pragma GCC diagnostic error "-Wswitch"
constexpr std::optional<OutcomeKind> NextKind(OutcomeKind eKind) {
    switch (eKind) {
    case OutcomeKind::Success:
        return OutcomeKind::CheckConnection;
    case OutcomeKind::CheckConnection:
        return OutcomeKind::NotDetected;
    case OutcomeKind::NotDetected:
        return OutcomeKind::InvalidFirmware;
    case OutcomeKind::InvalidFirmware:
        return OutcomeKind::BootFailed;
    case OutcomeKind::BootFailed:
        return OutcomeKind::CommunicationError;
    case OutcomeKind::CommunicationError:
        return OutcomeKind::Interrupted;
    case OutcomeKind::Interrupted:
        return OutcomeKind::VerifyFailed;
    case OutcomeKind::VerifyFailed:
        return OutcomeKind::Current;
    case OutcomeKind::Current:
        return std::nullopt;
    }
    return std::nullopt;
}
#pragma GCC diagnostic pop

constexpr bool EveryKindHasARow() {
    for (std::optional<OutcomeKind> optKind = OutcomeKind::Success; optKind;
         optKind = NextKind(*optKind)) {
        if (FindRow(*optKind) == nullptr) {
            return false;
        }
    }
    return true;
}
static_assert(EveryKindHasARow(), "every OutcomeKind needs its row in kRows");

const OutcomeRow& RowOf(OutcomeKind eKind) {
    const OutcomeRow* pRow = FindRow(eKind);
    // Only a value outside the enumeration lands here: never report it as success.
    return pRow != nullptr ? *pRow : *FindRow(OutcomeKind::CommunicationError);
}

std::string Where(const UpdateOutcome& o) {
    switch (o.eStep) {
    case OutcomeStep::Handshake:
        return "during the handshake";
    case OutcomeStep::Finish:
        return "at the finish packet";
    case OutcomeStep::Block:
        return "at block " + std::to_string(o.nBlock);
    default:
        return "during the download";
    }
}

} // namespace

const char* OutcomeText(OutcomeKind eKind) {
    return RowOf(eKind).pszText;
}

int OutcomeExitCode(OutcomeKind eKind) {
    return RowOf(eKind).nExitCode;
}

const char* OutcomeCode(OutcomeKind eKind) {
    return RowOf(eKind).pszCode;
}

const char* VerifyStateText(VerifyState eState) {
    switch (eState) {
    case VerifyState::Yes:
        return "yes";
    case VerifyState::No:
        return "no";
    default:
        return "not checked";
    }
}

bool OutcomeKindFromText(const std::string& strText, OutcomeKind& eKind) {
    for (const OutcomeRow& row : kRows) {
        if (strText == row.pszText) {
            eKind = row.eKind;
            return true;
        }
    }
    return false;
}

std::string ErrnoText(int nErrno) {
    return std::generic_category().message(nErrno) + " (errno " + std::to_string(nErrno) + ")";
}

std::string DescribeDownloadFailure(const UpdateOutcome& o, uint32_t nPacketMs,
                                    uint32_t nHandshakeMs) {
    if (o.nDownloadCode == 0) {
        return {};
    }
    if (o.nErrno == ETIMEDOUT) {
        // What a blocked write reports (kWriteStalled): the line is fine, the far end is not.
        return "the reader stopped reading " + Where(o) + ": it took no more bytes within " +
               std::to_string(nPacketMs) +
               " ms and the wire time of the packet; restart the reader (its boot loader takes "
               "the image again) and check that no other program uses the port";
    }
    if (o.nErrno != 0) {
        std::string strText = "the serial line failed " + Where(o) + ": " + ErrnoText(o.nErrno);
        if (o.nErrno == EIO) {
            strText += "; the reader was unplugged or lost power. Plug it in and run the update "
                       "again: its boot loader takes the image";
        }
        return strText;
    }
    const std::string strStatus = std::to_string(o.nDeviceStatus);
    switch (o.nDownloadCode) {
    case kDlTimeout:
        if (o.eStep == OutcomeStep::Handshake) {
            return "the boot loader did not send its info and go packets within " +
                   std::to_string(nHandshakeMs) + " ms";
        }
        return "no reply " + Where(o) + " within " + std::to_string(nPacketMs) +
               " ms; check the cable and the reader's power";
    case kDlStatus2:
    case kDlStatus5:
        return "the boot loader refused block " + std::to_string(o.nBlock) + " with status " +
               strStatus;
    case kDlRefused:
        if (o.eStep == OutcomeStep::Finish) {
            return "the boot loader did not confirm the finish (status " + strStatus + ")";
        }
        return "the boot loader refused block " + std::to_string(o.nBlock) + " with status " +
               strStatus;
    case kDlBadHandshake:
        return "the boot loader answered the handshake with status " + strStatus + " instead of 14";
    case kDlBadMaxPacket:
        return "the boot loader announced an unusable packet size (" + strStatus + " words)";
    case kDlInterrupted:
        return "stopped on request " + Where(o) +
               "; the reader is still in its boot loader: run the update again to finish it";
    default:
        return "the boot loader sent a malformed packet " + Where(o) + " (code " +
               std::to_string(o.nDownloadCode) + ")";
    }
}

} // namespace fwup
