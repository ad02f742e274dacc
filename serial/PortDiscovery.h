#pragma once
// Port discovery: lists the USB serial ports that are present, by name, from a
// sysfs tree below $FWUP_SYSROOT (default "/"). A listed name is the USB
// device's description, a blank, then "(COM<n>)", where n is a process-wide
// number kept per physical connector (USB device path plus interface), so that
// a device restarting under another tty name or product keeps its number.

#include <string>
#include <vector>

namespace fwup {

struct PortRecord {
    std::string strName;        // "AT91 USB to Serial Converter (COM3)"
    std::string strDescription; // "AT91 USB to Serial Converter"
    std::string strDeviceNode;  // "$FWUP_SYSROOT/dev/ttyACM0"
    std::string strConnector;   // USB device path plus interface, the numbering key
    int nPort = 0;              // the COM number
};

// The root every sysfs and /dev path is read below.
std::string SysRoot();

// Every present USB tty, in tty-name order. Names of 150 characters or more are left out.
std::vector<PortRecord> ScanPorts();
// The same below strRoot instead of SysRoot().
std::vector<PortRecord> ScanPortsBelow(const std::string& strRoot);

// The listed names of ScanPorts(); a new list each call.
std::vector<std::string> EnumeratePorts();

// The device node of port number nPort at this moment; empty when none is listed.
std::string DeviceNodeForPort(int nPort);

// The description part of a listed name ("XCOM3 (Modem)" gives "Modem").
std::string PortDescriptionFromName(const std::string& strName);

} // namespace fwup
