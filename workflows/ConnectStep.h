#pragma once
// The connect step of the connection panel: open the chosen port, reopen it the
// way the device needs after a plug-in, and ask who answers: the boot loader's
// status query (twice), else the application's version and serial number.
// Blocking: run it off a GUI thread.

#include "device/CDeviceSession.h"
#include "device/ProtocolTimings.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace fwup {

enum class ConnectKind {
    BootLoader,  // the status query was answered: nBootInfo
    Application, // "~rv" was answered: optVersion, and optSerial when "~rS" was
    NoAnswer,    // the port opened but nothing answered; the port is closed again
    PortNotOpen, // the port did not open, or not again after the reopen: strCause
};

struct ConnectResult {
    ConnectKind eKind = ConnectKind::PortNotOpen;
    int32_t nBootInfo = -1;                // the boot loader's status value; -1 when none
    std::optional<std::string> optVersion; // the application's version text
    std::optional<std::string> optSerial;  // the application's serial number text
    std::string strCause;      // PortNotOpen: what is wrong and what to do; may be empty
    std::string strDeviceNode; // the node that was opened; empty when none was
    // The open session when a device answered (BootLoader, Application); empty otherwise.
    std::unique_ptr<CDeviceSession> pSession;

    bool Connected() const { return pSession != nullptr; }
};

// Makes a session on the listed port strPortName with timings, reopens the port
// (closed, 200 ms pause, listed and open again within 5000 ms) and detects the
// device. Takes up to about 5 s for the reopen plus three command time-outs
// (3000 ms each by default) for a device that answers nothing.
ConnectResult ConnectDevice(const std::string& strPortName, const ProtocolTimings& timings);

// The window's text for a boot loader's status value: "boot v" and its version
// (BootLoaderVersion: 0x1A2B3C4D gives "boot v10.11.12.13").
std::string BootVersionText(int32_t nBootInfo);

} // namespace fwup
