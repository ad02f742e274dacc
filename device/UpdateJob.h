#pragma once
// The update job: port wait, detection, file load, ready line, boot-loader
// switch, download, the wait for the port to go away and the read-back, reported
// stage by stage.

#include "device/CDeviceSession.h"
#include "device/IStageObserver.h"
#include "device/UpdateOutcome.h"
#include "device/UpdateRequest.h"

namespace fwup {

inline constexpr const char* kTextConnectingFormat = "connecting to %s";

// Runs one update on the session's port with request, on the calling thread, with
// the session's timings. Reports every stage to observer (borrowed for the call):
// StageStart first and ends with exactly one StageSuccess or StageFailure
// (status.strMessage = OutcomeText, status.strCause = the outcome's cause).
// A port handed in open is closed only after a success; a port the job opened is
// closed on every ending. A stop request ends the job at once before the download
// and at the next packet boundary during it (outcome Interrupted).
// With request.optExpectVersion, a reader already reporting it gets nothing
// (outcome Current, reported as StageSuccess with its reason in strMessage).
// With request.bVerify, a confirmed download is followed by the read-back: up to
// the timings' nVerifyMs for the reader's application, then "~rv" and "~rS" (a
// boot-loader status query only when "~rv" got no answer);
// StageVerifying reports it, request.optVersionAfter and eVerified hold it.
UpdateOutcome RunUpdate(CDeviceSession& session, UpdateRequest& request, IStageObserver& observer);

} // namespace fwup
