#pragma once
// The platform's list of USB serial ports: on Linux, a scan of sysfs below a root.

#include <string>
#include <vector>

namespace fwup {

struct UsbTty {
    std::string strTty;         // "ttyACM0"
    std::string strDescription; // product, interface name, or "USB Serial Device"
    std::string strConnector;   // USB device path below sys/devices, ':' interface
    std::string strNode;        // <root>/dev/ttyACM0
};

// Every tty below strRoot whose device has a USB ancestor, in tty-name order.
std::vector<UsbTty> ScanUsbTtys(const std::string& strRoot);

// Trims blanks, tabs and line ends at both ends.
std::string TrimText(const std::string& strText);

} // namespace fwup
