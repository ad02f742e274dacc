#include "device/UpdateJob.h"

#include "device/CBlockLoader.h"
#include "device/CGadgetLib.h"
#include "device/CommandProtocol.h"
#include "device/FirmwareFile.h"
#include "device/Packets.h"
#include "device/PortWait.h"
#include "serial/Clock.h"
#include "serial/DebugChannel.h"

#include <cstdio>
#include <memory>

namespace fwup {

namespace {

constexpr uint32_t kGonePollMs = 20;

UpdateOutcome Finish(UpdateRequest& request, IStageObserver& observer, UpdateOutcome outcome) {
    request.status.strMessage = OutcomeText(outcome.eKind);
    request.status.strCause = outcome.strCause;
    // A current reader is no failure: its one line says why nothing was sent.
    const bool bCurrent = outcome.eKind == OutcomeKind::Current;
    if (bCurrent) {
        request.status.strMessage += ": " + outcome.strCause;
        request.status.strCause.clear();
    }
    observer.OnStage(outcome.Succeeded() || bCurrent ? StageSuccess : StageFailure, request.status);
    return outcome;
}

UpdateOutcome Failure(OutcomeKind eKind, OutcomeStep eStep, std::string strCause) {
    UpdateOutcome outcome;
    outcome.eKind = eKind;
    outcome.eStep = eStep;
    outcome.strCause = std::move(strCause);
    return outcome;
}

UpdateOutcome PortFailure(OutcomeKind eKind, OutcomeStep eStep, const CComPort& port) {
    UpdateOutcome outcome = Failure(eKind, eStep, DescribeOpenError(port.GetOpenError()));
    outcome.nErrno = port.GetOpenError().nErrno;
    return outcome;
}

std::string Ms(uint32_t nMs) {
    return std::to_string(nMs) + " ms";
}

// Closes the port and waits, bounded, until no listed port matches it: after a
// confirmed download the device restarts and its port goes away, but one that
// never lets go must not hold the job forever. Without a device name there is
// nothing to recognise it by, so no wait.
void CloseAndWaitGoneBounded(CDeviceLink& link, uint32_t dwLimitMs) {
    CComPort& port = link.Port();
    port.Close();
    if (port.GetDeviceName().empty()) {
        return;
    }
    const uint32_t dwStart = GetTickCount();
    // With a shared watcher, a restart quicker than its scans is still seen.
    const uint64_t nMark = port.DepartureMark();
    // A stop request ends the wait too: the flash is confirmed already.
    while (port.IsPresent() && !port.HasLeftSince(nMark) && !link.StopRequested()) {
        if (TicksSince(dwStart) >= dwLimitMs) {
            DebugOut("device port still listed after the download; not waiting any longer\n");
            return;
        }
        port.WaitForListChange(kGonePollMs);
    }
}

void ReportVerifying(UpdateRequest& request, IStageObserver& observer, std::string strLine) {
    request.status.strMessage = std::move(strLine);
    observer.OnStage(StageVerifying, request.status);
}

// After a confirmed download: waits, bounded, for the reader's application to
// come back and asks it what Connect asks. Fills the request's findings and the
// serial number (which a job begun in the boot loader did not know). Only a
// version other than the expected one fails; a reader that stays away passes as
// not verified, since it may just need a power cycle.
UpdateOutcome VerifyAfterDownload(CDeviceLink& link, UpdateRequest& request,
                                  IStageObserver& observer) {
    const uint32_t dwWaitMs = link.Timings().nVerifyMs;
    ReportVerifying(request, observer,
                    "verifying: waiting up to " + Ms(dwWaitMs) + " for the reader to come back");
    request.eVerified = VerifyState::No;
    CComPort& port = link.Port();
    if (!WaitOpenUnlessStopped(link, dwWaitMs)) {
        ReportVerifying(request, observer,
                        link.StopRequested()
                            ? "not verified: stopped on request"
                            : "not verified: the reader did not come back within " + Ms(dwWaitMs) +
                                  "; it may need a power cycle");
        return UpdateOutcome{};
    }
    // The application is expected: asked first, so a good reader costs two
    // replies, not the detection's two boot-loader status queries.
    const std::optional<std::string> optVersion = QueryVersion(link);
    const std::optional<std::string> optSerial =
        optVersion ? QuerySerial(link) : std::optional<std::string>();
    uint32_t dwBootValue = 0;
    const bool bBootLoader = !optVersion && PingBootLoader(link, dwBootValue) == 0;
    port.Close();
    if (!optVersion) {
        ReportVerifying(request, observer,
                        bBootLoader ? "not verified: the reader came back in its boot loader, not "
                                      "its application; power it off and on and check its version"
                                    : "not verified: the reader's port came back but nothing "
                                      "answered \"~rv\"");
        return UpdateOutcome{};
    }
    request.optVersionAfter = optVersion;
    // The unit's own answer: a job begun in the boot loader knew none, or only
    // the one a front end's earlier reader left in the request.
    if (optSerial) {
        request.status.optSerial = optSerial;
    }
    if (request.optExpectVersion && *optVersion != *request.optExpectVersion) {
        return Failure(
            OutcomeKind::VerifyFailed, OutcomeStep::Verify,
            "the reader reports " + *optVersion + ", expected " + *request.optExpectVersion +
                ": the image does not bring that version, or the reader did not take it");
    }
    request.eVerified = VerifyState::Yes;
    ReportVerifying(request, observer,
                    "verified: the reader reports version " + *optVersion + ", serial " +
                        optSerial.value_or("unknown"));
    return UpdateOutcome{};
}

UpdateOutcome Interrupted(bool bInBootLoader) {
    return Failure(OutcomeKind::Interrupted, OutcomeStep::None,
                   bInBootLoader ? "stopped on request before the download; the reader waits in "
                                   "its boot loader: run the update again to finish it"
                                 : "stopped on request before the download; the reader was not "
                                   "changed");
}

} // namespace

UpdateOutcome RunUpdate(CDeviceSession& session, UpdateRequest& request, IStageObserver& observer) {
    CComPort& port = session.Port();
    CDeviceLink& link = session.Link();
    const ProtocolTimings& timings = session.Timings();
    request.status.strCause.clear();
    request.optVersionAfter.reset();
    request.eVerified = VerifyState::NotChecked;
    observer.OnStage(StageStart, request.status);

    bool bOpenedByJob = false;
    if (!port.IsOpen()) {
        char szText[512];
        std::snprintf(szText, sizeof szText, kTextConnectingFormat, port.GetLabel().c_str());
        request.status.strMessage = szText;
        observer.OnStage(StageConnecting, request.status);
        if (!WaitOpenUnlessStopped(link, timings.nDetectOpenMs)) {
            if (session.StopRequested()) {
                return Finish(request, observer, Interrupted(false));
            }
            return Finish(request, observer,
                          PortFailure(OutcomeKind::CheckConnection, OutcomeStep::OpenPort, port));
        }
        bOpenedByJob = true;
    }

    // Early failures release a port the job opened. The device is still attached,
    // so its port never goes away: close without waiting for that.
    const auto closeIfOpenedByJob = [&] {
        if (bOpenedByJob && port.IsOpen()) {
            port.Close();
        }
    };
    const auto fail = [&](UpdateOutcome outcome) {
        closeIfOpenedByJob();
        return Finish(request, observer, std::move(outcome));
    };

    if (session.StopRequested()) {
        return fail(Interrupted(false));
    }
    const uint64_t nBytesBefore = port.BytesReceived();
    if (const int nDetect = DetectDevice(link, request); nDetect != 0) {
        if (session.StopRequested()) {
            return fail(Interrupted(false));
        }
        if (nDetect == -4) {
            return fail(PortFailure(OutcomeKind::NotDetected, OutcomeStep::Detect, port));
        }
        if (const uint64_t nJunk = port.BytesReceived() - nBytesBefore;
            nJunk >= kReceiveBufferSize) {
            return fail(Failure(OutcomeKind::NotDetected, OutcomeStep::Detect,
                                "something on " + port.GetDeviceNode() + " sent " +
                                    std::to_string(nJunk) +
                                    " bytes, but none answered the boot loader's status query "
                                    "or \"~rv\": it floods the port with data that is not the "
                                    "reader's protocol; check that this is the reader's port"));
        }
        return fail(Failure(OutcomeKind::NotDetected, OutcomeStep::Detect,
                            "nothing answered on " + port.GetDeviceNode() +
                                ": neither the boot loader's status query nor \"~rv\" within " +
                                Ms(timings.nCommandMs) +
                                " each; check that this is the reader's port and that it is on"));
    }
    uint32_t dwAreaFlags = kCodeAreaFlags;
    // Without a path there is no image to send: refuse rather than send a stale one.
    if (request.strFirmwarePath.empty() ||
        LoadFirmware(request, request.strFirmwarePath, dwAreaFlags) != 0) {
        return fail(Failure(OutcomeKind::InvalidFirmware, OutcomeStep::LoadFirmware,
                            DescribeFirmwareProblem(request.strFirmwarePath)));
    }
    if (!request.strApprovedSha256.empty()) {
        const std::string strLoaded = ImageSha256(request.pSegments);
        if (strLoaded != request.strApprovedSha256) {
            return fail(Failure(OutcomeKind::InvalidFirmware, OutcomeStep::LoadFirmware,
                                request.strFirmwarePath +
                                    " changed after the station profile's check (SHA-256 " +
                                    strLoaded + ", checked " + request.strApprovedSha256 +
                                    "): start again to check it anew"));
        }
    }
    if (request.optExpectVersion && request.optVersion == request.optExpectVersion) {
        closeIfOpenedByJob();
        UpdateOutcome outcome;
        outcome.eKind = OutcomeKind::Current;
        outcome.eStep = OutcomeStep::Detect;
        outcome.strCause =
            "the reader already runs version " + *request.optVersion + ": nothing was sent";
        return Finish(request, observer, std::move(outcome));
    }
    observer.OnStage(StageUpdating, request.status);

    {
        GadgetChannel channel{&link};
        CGadgetLib gadget;
        gadget.SetChannel(&channel); // waits for the ready line; its text is not needed
    }
    if (session.StopRequested()) {
        return fail(Interrupted(false));
    }

    const int nEnter = EnterBootLoader(link, request);
    if (session.StopRequested()) {
        return fail(Interrupted(nEnter == 0));
    }
    if (nEnter != 0) {
        return fail(Failure(OutcomeKind::BootFailed, OutcomeStep::EnterBoot,
                            "the application refused \"~dboot\" (it answered another line); "
                            "restart the reader and try again"));
    }
    if (request.nBootInfo == -1) {
        if (!port.IsOpen()) {
            UpdateOutcome outcome =
                PortFailure(OutcomeKind::BootFailed, OutcomeStep::EnterBoot, port);
            outcome.strCause = "the reader's port did not come back within " +
                               Ms(timings.nBootPauseMs + timings.nBootReturnMs) +
                               " after \"~dboot\"" +
                               (outcome.strCause.empty() ? "" : ": " + outcome.strCause);
            return fail(std::move(outcome));
        }
        return fail(Failure(OutcomeKind::BootFailed, OutcomeStep::EnterBoot,
                            "the boot loader did not answer its status query on " +
                                port.GetDeviceNode() + " after the restart"));
    }

    CBlockLoader loader(link);
    const int nResult = loader.Download(request, observer, request.pSegments.get(), dwAreaFlags);
    if (nResult != 0) {
        char szLine[64];
        std::snprintf(szLine, sizeof szLine, "download failed: %d\n", nResult);
        DebugOut(szLine);
        UpdateOutcome outcome;
        outcome.eKind =
            nResult == kDlInterrupted ? OutcomeKind::Interrupted : OutcomeKind::CommunicationError;
        outcome.eStep = loader.m_trace.eStep;
        outcome.nBlock = loader.m_trace.nBlock;
        outcome.nErrno = loader.m_trace.nErrno;
        outcome.nDeviceStatus = loader.m_trace.nDeviceStatus;
        outcome.nDownloadCode = nResult;
        outcome.strCause =
            DescribeDownloadFailure(outcome, timings.nPacketMs, timings.nHandshakeMs);
        return fail(std::move(outcome));
    }

    request.status.strMessage = "download completed. please wait ...";
    CloseAndWaitGoneBounded(link, timings.nGoneAfterMs);
    UpdateOutcome outcome;
    if (request.bVerify) {
        outcome = VerifyAfterDownload(link, request, observer);
    }
    request.status.strMessage = "finished";
    closeIfOpenedByJob();
    return Finish(request, observer, std::move(outcome));
}

} // namespace fwup
