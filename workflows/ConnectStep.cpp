#include "workflows/ConnectStep.h"

#include "device/BootLoaderVersion.h"
#include "device/CommandProtocol.h"
#include "device/UpdateRequest.h"
#include "serial/PortOpenError.h"

namespace fwup {

namespace {

ConnectResult PortNotOpen(const CComPort& port) {
    ConnectResult result;
    result.eKind = ConnectKind::PortNotOpen;
    result.strCause = DescribeOpenError(port.GetOpenError());
    return result;
}

} // namespace

ConnectResult ConnectDevice(const std::string& strPortName, const ProtocolTimings& timings) {
    auto pSession = std::make_unique<CDeviceSession>(strPortName, timings);
    CComPort& port = pSession->Port();
    if (!port.IsOpen()) {
        return PortNotOpen(port);
    }
    port.Reopen();
    if (!port.IsOpen()) {
        return PortNotOpen(port);
    }

    // The engine's detection on the open port: it keeps the port open.
    UpdateRequest findings;
    const int nDetect = DetectDevice(pSession->Link(), findings);
    ConnectResult result;
    result.strDeviceNode = port.GetDeviceNode();
    result.nBootInfo = findings.nBootInfo;
    if (nDetect == 0 && findings.nBootInfo != -1) {
        result.eKind = ConnectKind::BootLoader;
    } else if (nDetect == 0 && findings.optVersion) {
        result.eKind = ConnectKind::Application;
        result.optVersion = findings.optVersion;
        result.optSerial = findings.status.optSerial;
    } else {
        result.eKind = ConnectKind::NoAnswer;
        return result; // the session goes, closing the port
    }
    result.pSession = std::move(pSession);
    return result;
}

std::string BootVersionText(int32_t nBootInfo) {
    return "boot v" + BootLoaderVersion(nBootInfo);
}

} // namespace fwup
