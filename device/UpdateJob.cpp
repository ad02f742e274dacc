#include "device/UpdateJob.h"

#include "device/CBlockLoader.h"
#include "device/CGadgetLib.h"
#include "device/CommandProtocol.h"
#include "device/FirmwareFile.h"
#include "device/Packets.h"
#include "serial/Clock.h"
#include "serial/DebugChannel.h"

#include <cstdio>
#include <memory>

namespace fwup {

namespace {

// After a confirmed download the device restarts and its port goes away; a device
// that never lets go must not hold the job forever. The flash is confirmed by
// then, so the job still ends in success.
constexpr uint32_t kGoneAfterSuccessMs = 30000;
constexpr uint32_t kGonePollMs = 20;

void Report(UpdateRequest& request, int nStage) {
    if (request.pfnStatus != nullptr) {
        request.pfnStatus(nStage, &request.status, request.pContext);
    }
}

void Fail(UpdateRequest& request, const char* pszText) {
    request.status.strMessage = pszText;
    Report(request, StageFailure);
}

// Closes the port and waits, bounded, until no listed port matches it. Without a
// device name there is nothing to recognise it by, so no wait.
void CloseAndWaitGoneBounded(CComPort& port, uint32_t dwLimitMs) {
    port.Close();
    if (port.GetDeviceName().empty()) {
        return;
    }
    const uint32_t dwStart = GetTickCount();
    while (port.IsPresent()) {
        if (TicksSince(dwStart) >= dwLimitMs) {
            DebugOut("device port still listed after the download; not waiting any longer\n");
            return;
        }
        SleepMs(kGonePollMs);
    }
}

} // namespace

int ReportProgress(UpdateRequest& request, int nPercent) {
    request.status.nProgress = nPercent;
    Report(request, StageProgress);
    return 0;
}

void RunUpdate(CComPort& port, UpdateRequest& request, void* pContext, StatusCallback pfnStatus) {
    // One job at a time: the protocol's reply and receive buffers are process-wide.
    std::lock_guard lock(DeviceProtocolMutex());
    request.pContext = pContext;
    request.pfnStatus = pfnStatus;
    Report(request, StageStart);

    bool bOpenedByJob = false;
    if (!port.IsOpen()) {
        char szText[512];
        std::snprintf(szText, sizeof szText, kTextConnectingFormat, port.GetLabel().c_str());
        request.status.strMessage = szText;
        Report(request, StageConnecting);
        if (!port.WaitOpen(kDetectOpenMs)) {
            Fail(request, kTextCheckConnection);
            return;
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

    if (DetectDevice(port, request) != 0) {
        closeIfOpenedByJob();
        Fail(request, kTextNotDetected);
        return;
    }
    uint32_t dwAreaFlags = kCodeAreaFlags;
    // Without a path there is no image to send: refuse rather than send a stale one.
    if (request.strFirmwarePath.empty() ||
        LoadFirmware(request, request.strFirmwarePath, dwAreaFlags) != 0) {
        closeIfOpenedByJob();
        Fail(request, kTextInvalidFirmware);
        return;
    }
    Report(request, StageUpdating);

    auto pGadget = std::make_unique<CGadgetLib>();
    auto pChannel = std::make_unique<GadgetChannel>();
    pChannel->pPort = &port;
    pGadget->SetChannel(pChannel.get()); // waits for the ready line; its text is not needed

    const char* pszFailure = nullptr;
    if (EnterBootLoader(port, request) != 0 || request.nBootInfo == -1) {
        pszFailure = kTextBootFailed;
    } else {
        int nResult = 0;
        {
            CBlockLoader loader(port);
            nResult = loader.Download(request, request.pSegments.get(), dwAreaFlags);
        }
        if (nResult != 0) {
            char szLine[64];
            std::snprintf(szLine, sizeof szLine, "download failed: %d\n", nResult);
            DebugOut(szLine);
            pszFailure = kTextCommunicationError;
        }
    }

    if (pszFailure != nullptr) {
        closeIfOpenedByJob();
        pChannel.reset();
        pGadget.reset();
        Fail(request, pszFailure);
        return;
    }

    request.status.strMessage = "download completed. please wait ...";
    CloseAndWaitGoneBounded(port, kGoneAfterSuccessMs);
    request.status.strMessage = "finished";
    closeIfOpenedByJob();
    pChannel.reset();
    pGadget.reset();
    request.status.strMessage = kTextSuccess;
    Report(request, StageSuccess);
}

} // namespace fwup
