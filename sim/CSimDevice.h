#pragma once
// CSimDevice: one simulated hand-held reader on a CVirtualPort. Its thread plays
// the application firmware (ASCII commands) or the boot loader (binary packets),
// drops off the bus and comes back around "~dboot" and the finish, and writes
// downloads into a 256 KiB flash image. Faults come from SimDeviceConfig.

#include "sim/SimConfig.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fwsim {

inline constexpr uint32_t kFlashBase = 0x100000; // device address of flash offset 0
inline constexpr uint32_t kFlashSize = 0x40000;  // 256 KiB
inline constexpr uint32_t kCodeAddress = 0x108000;

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
