#pragma once
// The fake sysfs entries of one USB CDC-ACM serial port below a system root, laid
// out as the kernel does:
//   sys/devices/pci0000:00/0000:00:14.0/usb1/<usb>/{idVendor,idProduct,product,serial}
//   .../<usb>/<usb>:1.0/{bInterfaceNumber,interface}
//   .../<usb>/<usb>:1.0/tty/<tty>/device -> ../../../<usb>:1.0
//   sys/class/tty/<tty> -> ../../devices/.../<usb>:1.0/tty/<tty>
//   dev/<tty> -> the pty slave (/dev/pts/N)
// Links are written under a temporary name and renamed into place, and the class
// link comes last, so a scanning host never sees a half-made port.

#include <string>

namespace fwsim {

struct UsbSerialEntry {
    std::string strRoot;
    std::string strUsbPath;
    std::string strTtyName;
    std::string strProduct; // "" = no product file
    std::string strSerial;
    std::string strVendorId;
    std::string strProductId;
    std::string strInterface; // "" = no interface file
    std::string strSlavePath; // target of dev/<tty>
};

// <root>/sys/devices/pci0000:00/0000:00:14.0/usb1/<usb>
std::string UsbDeviceDir(const std::string& strRoot, const std::string& strUsbPath);

// Creates the entries, replacing stale ones of an earlier run. False and a
// message in strError on failure (then nothing is left published).
bool PublishUsbSerial(const UsbSerialEntry& entry, std::string& strError);

// Removes the class link, the dev link and the USB device directory, in that order.
void RemoveUsbSerial(const std::string& strRoot, const std::string& strUsbPath,
                     const std::string& strTtyName);

// True for names usable as one path element in the tree (no '/', not "." or "..").
bool IsSafeName(const std::string& strName);

} // namespace fwsim
