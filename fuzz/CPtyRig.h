#pragma once
// CPtyRig: the pty-based fuzz targets' one device, made once per process. A
// fwsim::CVirtualPort is published below a temporary root (FWUP_SYSROOT points
// there) and opened through CComPort by its listed name, exactly as the product
// opens a real USB serial port. The fuzz input plays the device's side.
//
// The pty hands bytes written on the device side to the host's next read (a read
// that finds nothing first waits for the pty's pending transfer), so after Feed the
// host sees the whole input at once and the protocol code never has to wait for it.

#include "fuzz/CTempDir.h"
#include "serial/CComPort.h"
#include "sim/CVirtualPort.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fwup::fuzz {

class CPtyRig {
public:
    // Most bytes Feed accepts: the pty buffers far more (64 KiB), so a Feed never
    // blocks waiting for a reader that runs on the same thread.
    static constexpr size_t kMaxFeed = 16384;

    // Publishes and opens the port on first use; aborts when that fails.
    static CPtyRig& Instance();

    CComPort& Port() { return *m_pPort; }

    // Writes strBytes from the device's side (at most kMaxFeed bytes).
    void Feed(const std::string& strBytes);
    // Everything the host has written since the last call.
    std::vector<uint8_t> TakeHostBytes();
    // Drops device bytes the host has not read, so the next input starts clean.
    void DropUnread();

private:
    CPtyRig();

    CTempDir m_root;
    std::unique_ptr<fwsim::CVirtualPort> m_pDevice;
    std::unique_ptr<CComPort> m_pPort;
};

// Installs a debug sink that takes every trace line and checks its shape (not
// empty, ends with a line end), so that the byte traces run during fuzzing.
void InstallCheckingTraceSink();

} // namespace fwup::fuzz
