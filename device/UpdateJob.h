#pragma once
// The update job: port wait, detection, file load, ready line, boot-loader
// switch, download and the wait for the port to go away, reported stage by stage.

#include "device/UpdateRequest.h"
#include "serial/CComPort.h"

namespace fwup {

inline constexpr const char* kTextCheckConnection = "check connection";
inline constexpr const char* kTextNotDetected = "device not detected";
inline constexpr const char* kTextInvalidFirmware = "invalid firmware file";
inline constexpr const char* kTextBootFailed = "boot loader failed. check connection";
inline constexpr const char* kTextCommunicationError = "Communication Error";
inline constexpr const char* kTextSuccess =
    "FW Update Successful!\nPlease disconnect the USB cable and turn your Tarnic's power off & "
    "on before use.";
inline constexpr const char* kTextConnectingFormat = "connecting to %s";

// Runs one update on port with request, on the calling thread. Installs pContext
// and pfnStatus in the request, reports StageStart first and ends with exactly
// one StageSuccess or StageFailure (status.strMessage = the outcome's text).
// Holds DeviceProtocolMutex() for the whole job. A port handed in open is closed
// only after a success; a port the job opened is closed on every ending.
void RunUpdate(CComPort& port, UpdateRequest& request, void* pContext, StatusCallback pfnStatus);

// The download's progress hook: status.nProgress = nPercent, report StageProgress.
// Always 0.
int ReportProgress(UpdateRequest& request, int nPercent);

} // namespace fwup
