// sysfs layout: sys/class/tty/<tty>/device resolves to the USB interface
// directory; an ancestor holding idVendor is the USB device.
#include "serial/UsbTtyScan.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace fwup {

std::string TrimText(const std::string& strText) {
    const char* pszBlanks = " \t\r\n";
    const size_t nFirst = strText.find_first_not_of(pszBlanks);
    if (nFirst == std::string::npos) {
        return {};
    }
    const size_t nLast = strText.find_last_not_of(pszBlanks);
    return strText.substr(nFirst, nLast - nFirst + 1);
}

namespace {

bool ReadSmallFile(const fs::path& path, std::string& strText) {
    // sysfs attributes are regular files: a link could leave the root and a FIFO
    // would block the enumeration (and every wait built on it) for ever. One open
    // that never blocks and never follows a link, checked on the descriptor.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    const bool bRegular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // Attribute files are short; a cap keeps a hostile tree from costing memory.
    char szBuffer[4096];
    const ssize_t n = bRegular ? ::read(fd, szBuffer, sizeof szBuffer) : -1;
    ::close(fd);
    if (n < 0) {
        return false;
    }
    strText.assign(szBuffer, static_cast<size_t>(n));
    return true;
}

bool IsBelow(const fs::path& path, const fs::path& root) {
    auto itRoot = root.begin();
    auto itPath = path.begin();
    for (; itRoot != root.end(); ++itRoot, ++itPath) {
        if (itPath == path.end() || *itPath != *itRoot) {
            return false;
        }
    }
    return true;
}

} // namespace

std::vector<UsbTty> ScanUsbTtys(const std::string& strRoot) {
    std::vector<UsbTty> ttys;
    std::error_code ec;
    const fs::path root = fs::canonical(strRoot.empty() ? "/" : strRoot, ec);
    if (ec) {
        return ttys;
    }
    const fs::path classDir = root / "sys/class/tty";
    const fs::path devicesDir = root / "sys/devices";
    std::vector<std::string> names;
    for (fs::directory_iterator it(classDir, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());

    for (const std::string& strName : names) {
        const fs::path iface = fs::canonical(classDir / strName / "device", ec);
        if (ec || !IsBelow(iface, devicesDir)) {
            continue;
        }
        fs::path usbDevice;
        for (fs::path dir = iface; IsBelow(dir, devicesDir) && dir != devicesDir;
             dir = dir.parent_path()) {
            if (fs::exists(dir / "idVendor", ec)) {
                usbDevice = dir;
                break;
            }
        }
        if (usbDevice.empty()) {
            continue; // consoles, ptys, legacy UARTs
        }
        std::string strText;
        std::string strDescription;
        if (ReadSmallFile(usbDevice / "product", strText)) {
            strDescription = TrimText(strText);
        }
        if (strDescription.empty() && ReadSmallFile(iface / "interface", strText)) {
            strDescription = TrimText(strText);
        }
        if (strDescription.empty()) {
            strDescription = "USB Serial Device";
        }
        UsbTty tty;
        tty.strTty = strName;
        tty.strDescription = strDescription;
        tty.strConnector =
            usbDevice.lexically_relative(devicesDir).string() + ":" + iface.filename().string();
        tty.strNode = (root / "dev" / strName).string();
        ttys.push_back(std::move(tty));
    }
    return ttys;
}

} // namespace fwup
