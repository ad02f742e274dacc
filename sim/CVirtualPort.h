#pragma once
// CVirtualPort: a pseudo-terminal published as a USB serial port in a fake sysfs
// tree below a root directory (used as FWUP_SYSROOT), exactly as the kernel lays
// out a USB CDC-ACM port. It can vanish (entries removed, master closed, so the
// open side sees a hang-up) and come back, optionally under another tty name or
// product string, at the same USB path. No code is shared with the product.
// Plug/Unplug may run on another thread than Receive/Send: Unplug wakes them,
// waits until they have left, and only then closes the descriptors. While
// plugged the simulator holds one slave descriptor itself, so the master never
// reports a hang-up when the host closes its side, and bytes sent meanwhile stay
// queued as in a USB serial converter's buffer.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

namespace fwsim {

struct VirtualPortConfig {
    std::string strRoot;                // the fake system root (FWUP_SYSROOT)
    std::string strUsbPath = "1-1";     // USB device path, e.g. "1-1" or "1-2.3"
    std::string strTtyName = "ttyACM0"; // name under sys/class/tty and dev/
    std::string strProduct = "AT91 USB to Serial Converter"; // "" = no product file
    std::string strSerial = "0001";
    std::string strVendorId = "03eb";
    std::string strProductId = "6119";
    std::string strInterface = "CDC Abstract Control Model (ACM)"; // "" = no interface file
    bool bPaced = false; // 115200 baud: 11,520 bytes/s each way
};

class CVirtualPort {
public:
    explicit CVirtualPort(VirtualPortConfig config);
    ~CVirtualPort(); // unplugs
    CVirtualPort(const CVirtualPort&) = delete;
    CVirtualPort& operator=(const CVirtualPort&) = delete;

    // Creates a new pty and publishes it; false (errno set) on failure.
    bool Plug();
    // Comes back under another tty name and/or product string, same USB path.
    // strWaiting: bytes already queued for the host when the port appears.
    bool Plug(const std::string& strTtyName, const std::string& strProduct,
              const std::string& strWaiting = {});
    // Removes the entries and closes the master.
    void Unplug();
    bool IsPlugged() const;

    // Bytes the host wrote: waits up to nTimeoutMs (-1 = no limit) for the first
    // byte. Returns the count, 0 on time-out, -1 when unplugged. Paced when configured.
    ssize_t Receive(uint8_t* pBuffer, size_t nMax, int nTimeoutMs);
    // Sends bytes to the host; paced when configured. False when unplugged.
    bool Send(const uint8_t* pData, size_t nCount);
    bool Send(const std::string& strText);

    // Makes a Receive that waits now (or the next one) return 0 at once. Any thread.
    void Interrupt();
    // Waits up to nTimeoutMs until the host has read everything sent so far (or
    // nobody reads); true when nothing is left queued. Used before dropping off
    // the bus so that a last reply is not lost in the hang-up.
    bool Drain(int nTimeoutMs);
    // Last error of Plug() in words.
    std::string LastError() const;

    const VirtualPortConfig& Config() const;
    std::string DevicePath() const; // <root>/dev/<tty>
    std::string SlavePath() const;  // /dev/pts/N while plugged
    int MasterFd() const;           // -1 while unplugged

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

} // namespace fwsim
