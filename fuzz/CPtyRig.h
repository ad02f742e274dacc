#pragma once
// CPtyRig: the pty-based fuzz targets' one device, made once per process. A
// fwsim::CVirtualPort is published below the test-support rig's private root and
// opened through CComPort by its listed name, exactly as the product opens a real
// USB serial port. The fuzz input plays the device's side.
//
// The pty moves bytes written on the device side to the host's side in the
// background, in pieces. Feed returns only once all of them wait in the host's
// input queue, so every read of the code under test finds the same bytes on every
// run, whatever the machine's load (a fixed seed then gives the same exploration).

#include "serial/CComPort.h"
#include "sim/CVirtualPort.h"
#include "tests/support/CSimRig.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fwup::fuzz {

class CPtyRig {
public:
    // Most bytes Feed accepts: what the host's input queue (the tty's 4 KiB line
    // buffer) holds at once, so that all of them can be waiting before the host reads.
    static constexpr size_t kMaxFeed = 4000;

    // Publishes and opens the port on first use; aborts when that fails.
    static CPtyRig& Instance();

    ~CPtyRig();
    CPtyRig(const CPtyRig&) = delete;
    CPtyRig& operator=(const CPtyRig&) = delete;

    CComPort& Port() { return *m_pPort; }

    // Writes strBytes from the device's side (at most kMaxFeed bytes, with what is
    // still unread) and waits until the host's side holds them all.
    void Feed(const std::string& strBytes);
    // Everything the host has written since the last call.
    std::vector<uint8_t> TakeHostBytes();
    // Drops device bytes the host has not read, so the next input starts clean.
    void DropUnread();

private:
    CPtyRig();

    fwtest::CSimRig m_rig{"fwup-fuzz-pty"};
    std::unique_ptr<fwsim::CVirtualPort> m_pDevice;
    std::unique_ptr<CComPort> m_pPort;
    int m_hProbe = -1; // the host's side, only to count its queued bytes
};

// Installs a debug sink that takes every trace line and checks its shape (not
// empty, ends with a line end), so that the byte traces run during fuzzing.
void InstallCheckingTraceSink();

} // namespace fwup::fuzz
