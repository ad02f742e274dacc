#pragma once
// The platform's list of serial ports. Linux: a scan of sysfs below a root for
// USB ttys. Windows: SetupAPI's ports class, or the system's serial port map
// where that lists none (as under Wine); the root is not used there.

#include <string>
#include <vector>

namespace fwup {

struct UsbTty {
    std::string strTty;         // "ttyACM0"; Windows: "COM5"
    std::string strDescription; // product, interface name, or "USB Serial Device"
    std::string strConnector;   // USB device path below sys/devices, ':' interface;
                                // Windows: the device instance id or the port's map entry
    std::string strNode;        // <root>/dev/ttyACM0; Windows: "\\.\COM5"
    int nPort = 0;              // the system's COM number (Windows); 0: numbered per connector
};

// Every port found, in the platform's order (Linux: tty-name order).
std::vector<UsbTty> ScanUsbTtys(const std::string& strRoot);

// Trims blanks, tabs and line ends at both ends.
std::string TrimText(const std::string& strText);

} // namespace fwup
