#include "sim/UsbSysfs.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fwsim {

namespace fs = std::filesystem;

namespace {

constexpr const char* kBusDir = "sys/devices/pci0000:00/0000:00:14.0/usb1";

std::atomic<unsigned> g_nTempCounter{0};

bool WriteTextFile(const fs::path& path, const std::string& strText, std::string& strError) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << strText << '\n';
    file.close();
    if (!file) {
        strError = "cannot write " + path.string();
        return false;
    }
    return true;
}

// A symlink made under a temporary name and renamed over linkPath in one step.
bool PlaceSymlink(const std::string& strTarget, const fs::path& linkPath, std::string& strError) {
    // Appended piece by piece: gcc 12 at -O3 misreads the chained operator+ as an
    // overlapping copy (-Wrestrict).
    std::string strTempName = ".";
    strTempName += linkPath.filename().string();
    strTempName += ".tmp.";
    strTempName += std::to_string(getpid());
    strTempName += '.';
    strTempName += std::to_string(++g_nTempCounter);
    const fs::path tempPath = linkPath.parent_path() / strTempName;
    if (symlink(strTarget.c_str(), tempPath.c_str()) != 0) {
        strError = "cannot create link " + tempPath.string() + ": " + std::strerror(errno);
        return false;
    }
    if (std::rename(tempPath.c_str(), linkPath.c_str()) != 0) {
        strError = "cannot rename link to " + linkPath.string() + ": " + std::strerror(errno);
        unlink(tempPath.c_str());
        return false;
    }
    return true;
}

bool MakeDirs(const fs::path& path, std::string& strError) {
    std::error_code ec;
    fs::create_directories(path, ec);
    // Another device thread may create the same shared parent at the same moment.
    if (!fs::is_directory(path)) {
        strError = "cannot create directory " + path.string() + ": " + ec.message();
        return false;
    }
    return true;
}

} // namespace

bool IsSafeName(const std::string& strName) {
    return !strName.empty() && strName != "." && strName != ".." &&
           strName.find('/') == std::string::npos && strName.find('\0') == std::string::npos;
}

std::string UsbDeviceDir(const std::string& strRoot, const std::string& strUsbPath) {
    return (fs::path(strRoot) / kBusDir / strUsbPath).string();
}

bool PublishUsbSerial(const UsbSerialEntry& entry, std::string& strError) {
    if (!IsSafeName(entry.strUsbPath) || !IsSafeName(entry.strTtyName)) {
        strError = "bad USB path or tty name";
        return false;
    }
    RemoveUsbSerial(entry.strRoot, entry.strUsbPath, entry.strTtyName);

    const fs::path root(entry.strRoot);
    const fs::path usbDir = UsbDeviceDir(entry.strRoot, entry.strUsbPath);
    const std::string strInterfaceName = entry.strUsbPath + ":1.0";
    const fs::path interfaceDir = usbDir / strInterfaceName;
    const fs::path ttyDir = interfaceDir / "tty" / entry.strTtyName;
    const fs::path classDir = root / "sys/class/tty";
    const fs::path devDir = root / "dev";

    bool bOk = MakeDirs(ttyDir, strError) && MakeDirs(classDir, strError) &&
               MakeDirs(devDir, strError) &&
               WriteTextFile(usbDir / "idVendor", entry.strVendorId, strError) &&
               WriteTextFile(usbDir / "idProduct", entry.strProductId, strError) &&
               (entry.strProduct.empty() ||
                WriteTextFile(usbDir / "product", entry.strProduct, strError)) &&
               WriteTextFile(usbDir / "serial", entry.strSerial, strError) &&
               WriteTextFile(interfaceDir / "bInterfaceNumber", "00", strError) &&
               (entry.strInterface.empty() ||
                WriteTextFile(interfaceDir / "interface", entry.strInterface, strError)) &&
               PlaceSymlink("../../../" + strInterfaceName, ttyDir / "device", strError) &&
               PlaceSymlink(entry.strSlavePath, devDir / entry.strTtyName, strError) &&
               PlaceSymlink("../../devices/pci0000:00/0000:00:14.0/usb1/" + entry.strUsbPath + "/" +
                                strInterfaceName + "/tty/" + entry.strTtyName,
                            classDir / entry.strTtyName, strError);
    if (!bOk) {
        RemoveUsbSerial(entry.strRoot, entry.strUsbPath, entry.strTtyName);
    }
    return bOk;
}

void RemoveUsbSerial(const std::string& strRoot, const std::string& strUsbPath,
                     const std::string& strTtyName) {
    if (!IsSafeName(strUsbPath) || !IsSafeName(strTtyName)) {
        return;
    }
    const fs::path root(strRoot);
    std::error_code ec;
    fs::remove(root / "sys/class/tty" / strTtyName, ec);
    fs::remove(root / "dev" / strTtyName, ec);
    fs::remove_all(UsbDeviceDir(strRoot, strUsbPath), ec);
}

} // namespace fwsim
