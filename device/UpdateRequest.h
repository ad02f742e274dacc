#pragma once
// The record that travels between a front end and the update engine: inputs,
// findings and the status handed to every report.

#include "device/ImageSegment.h"

#include <cstdint>
#include <string>

namespace fwup {

enum UpdateStage : int {
    StageStart = 0,      // first report of every job
    StageSuccess = 1,    // last report of a successful job; strMessage = success text
    StageMessage = 2,    // never sent by the job; receivers log strMessage
    StageConnecting = 3, // the port was closed; strMessage = "connecting to <label>"
    StageUpdating = 4,   // detected and loaded; pszSerial and the file fields are set
    StageProgress = 5,   // after every accepted block; nProgress in percent
    StageFailure = 6,    // last report of a failed job; strMessage = the reason
};

struct UpdateStatus {
    int32_t nProgress = 0;   // download progress, percent 0..100
    std::string strMessage;  // text of the current stage or outcome
    std::string strFileName; // file name with extension, no folder
    std::string strFileDate; // last-write time, UTC, "YYYY.MM.DD hh:mm:ss"
    int32_t nFileSize = 0;   // bytes
    const char* pszSerial =
        nullptr; // device serial number; points into a process-wide reply buffer
};

// Called on the job's thread for every stage; pContext is the request's pContext.
using StatusCallback = void (*)(int nStage, UpdateStatus* pStatus, void* pContext);

struct UpdateRequest {
    int32_t nBootInfo = -1;           // boot loader status value, -1 = no answer
    const char* pszVersion = nullptr; // application version text (process-wide reply buffer)
    UpdateStatus status;
    ImageList pSegments;      // the image the download sends (owned)
    void* pContext = nullptr; // handed back with every report
    StatusCallback pfnStatus = nullptr;
    std::string strFirmwarePath; // full path of the firmware file; empty = none
};

} // namespace fwup
