#pragma once
// CSimDevice: one simulated hand-held reader on a CVirtualPort. Its thread plays
// the application firmware (ASCII commands) or the boot loader (binary packets),
// drops off the bus and comes back around "~dboot" and the finish, and writes
// downloads into a 256 KiB flash image. Faults come from SimDeviceConfig.
//
// Choices the wire format leaves to the device:
// - Ready line: "~e!ready,<text>\r\n" goes out dwReadyDelayMs after the reply to
//   "~rS", unless another command arrives first. An update job asks the version,
//   then the serial number, then listens for the ready line before "~dboot", so
//   it sees the line soon and the line never falls between a command and its
//   reply. One line per "~rS"; none at power-up.
// - Bytes that form no command are dropped (the parser resynchronises on '~'
//   and CR LF); unknown commands and the status query get no answer in the
//   application. The boot loader slides over bytes that start no known packet.
// - A data packet that fails a check (marker/code, length field against the
//   bytes received, size over L words, flags, padding, CRC, address outside
//   flash), or comes before the 0xF000 start command, is answered with status 7
//   (kStatusBadPacket) and not written. A packet that stops arriving half-way is
//   given up after 500 ms: a data packet is then answered with status 7.
// - Replies carry the marker 0xF00D, code 0x8000|request code, the request code
//   as echo at bytes 8-11 and the status at 12-15; the handshake reply echoes
//   0xF000 with 14, the finish reply 2 with 9.
// - Before dropping off the bus the device waits (up to 250 ms) until the host
//   has read its last reply, so the hang-up never swallows it.
// - The flash is not erased between downloads; a download overwrites its blocks.
// Faults, as they show on the line:
// - nGarbageBytes: the boot loader sends ceil(N/8) 8-byte junk packets (code
//   0x0BAD, no payload, never 00 00 0F 00) before the status reply, before the
//   info packet and before the go packet, where a host skips unknown packets;
//   never before block, handshake or finish replies. The application prefixes
//   the ready line with N printable noise bytes (from "#%&*+=?@$!": no '~', CR,
//   LF or zero byte); its command replies stay clean, since the host reads
//   them from their first byte to the first CR LF.
// - dwReplyDelayMs: once before each answer (the handshake's three packets are
//   one answer); the ready line is not a reply and is not delayed.
// - nSilentAtBlock: from that data packet on the boot loader answers nothing at
//   all (status queries and the finish included) until it restarts.
// - nUnplugAtBlock: the port vanishes instead of answering and stays away, like
//   a pulled cable, until Replug().
// - nFailBlock: that block is answered with dwFailStatus and not written; block
//   numbers count the data packets after each start command from 1.
// - bBadFinalReply: status 9 with echo 3; the download does not count and no
//   flash file is written, but the device restarts as after a good finish.
// - bNeverReturns: after "~dboot" (answered as usual) the port stays away.
// - nStopReadingAfterBlock: after answering that data packet the boot loader
//   reads nothing more (a hung endpoint) until it is unplugged or stopped; the
//   host's writes fill the pty and then block.
// - bJunkFlood: the application answers every chunk of input with kJunkBurst
//   bytes of noise (no '~', no LF) and never with a reply.
// - Without bReturnAsApp the device stays away after a finished download.
// - bDropAtOnce: after "~Dboot" the port goes at once, whether or not the host has
//   read the reply; the hang-up may take it. (The finish reply is still waited
//   for: a host that loses it must report a failure, so a test could not tell.)
// - bSilentHandshake: the start command (0xF000) is taken but not answered;
//   dwHandshakeStatus replaces the 14 of the handshake reply.
// - nNoiseAtPlug: N printable noise bytes wait in the port each time it appears,
//   before the host has sent anything (a boot banner, a glitch on the line).

#include "sim/SimConfig.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fwsim {

inline constexpr uint32_t kFlashBase = 0x100000; // device address of flash offset 0
inline constexpr uint32_t kFlashSize = 0x40000;  // 256 KiB
inline constexpr uint32_t kCodeAddress = 0x108000;
inline constexpr size_t kJunkBurst = 1024; // bytes of noise per input chunk (bJunkFlood)

class CSimDevice {
public:
    explicit CSimDevice(SimDeviceConfig config);
    ~CSimDevice(); // Stop()
    CSimDevice(const CSimDevice&) = delete;
    CSimDevice& operator=(const CSimDevice&) = delete;

    // Publishes the port in the starting personality and starts the device thread.
    bool Start();
    // Ends the thread and removes the port. Idempotent.
    void Stop();

    // The operator's hands: pull the cable / plug it in again (starting personality).
    void Unplug();
    bool Replug();

    bool IsPlugged() const;
    Personality CurrentPersonality() const;
    std::string DevicePath() const; // <root>/dev/<tty> of the current personality

    // Copy of the flash image (kFlashSize bytes, erased bytes 0xFF).
    std::vector<uint8_t> Flash() const;
    // nLength bytes of flash from device address dwAddress.
    std::vector<uint8_t> FlashAt(uint32_t dwAddress, size_t nLength) const;
    // Downloads confirmed with the finish reply so far.
    int DownloadsFinished() const;
    // Blocks until DownloadsFinished() >= n or dwTimeoutMs passed; true when reached.
    bool WaitForDownloads(int n, uint32_t dwTimeoutMs) const;

    const SimDeviceConfig& Config() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

} // namespace fwsim
