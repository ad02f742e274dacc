#pragma once
// Every wait of the device protocols, in milliseconds. The defaults are the
// device's own numbers and the product always runs with them; tests shorten them
// together with the simulator's delays so behaviour is checked without waiting.

#include <cstdint>

namespace fwup {

struct ProtocolTimings {
    uint32_t nCommandMs = 3000;    // reply to "~rv", "~rS", "~dboot"; boot-loader status query
    uint32_t nReadyMs = 5000;      // the application's ready line
    uint32_t nBootPauseMs = 2000;  // pause after closing the port for the boot loader
    uint32_t nBootReturnMs = 5000; // the boot loader's port returning after that pause
    uint32_t nDetectOpenMs = 7000; // the port appearing at the start of detection or a job
    uint32_t nPacketMs = 5000;     // one whole boot-loader packet
    uint32_t nHandshakeMs = 15000; // the info and go packets together
    uint32_t nGoneAfterMs = 30000; // the port going away after a confirmed download
    uint32_t nVerifyMs = 10000;    // the reader's application returning after a download
    uint32_t nHangupCheckMs = 250; // slices of a packet wait, so an unplug ends it at once

    // The defaults divided by nFactor (each at least 1 ms; the hang-up slice kept).
    static ProtocolTimings Scaled(uint32_t nFactor);
};

} // namespace fwup
