// Fuzzes port naming and sysfs discovery. The pure name readers get the input as
// a listed name; then the input is turned into a small fake sysfs tree (USB
// serial ports with arbitrary product texts and tty names, links that leave the
// root, loops, dangling links, missing files) and ScanPorts/EnumeratePorts list
// it. Checks: exactly the well-formed USB ttys are listed, in name order, each
// name is the description plus "(COM<n>)" and reads back to n and to its
// description, no name has 150 or more characters, the description comes from the
// product (else interface) file and never through a link out of the root or from
// a FIFO (which would block), device nodes lie inside the root, a connector keeps
// its number and the lookup by number finds the listed node.
//
// Input: a byte with the number of ttys (0-6), then per tty a byte of flags (bits
// 0-2 the kind of device link, 3 product file, 4 interface file, 5 product linked
// outside the root, or with bit 3 a FIFO, 6 long product, 7 no idVendor), the USB
// path and interface picks, a tty name and the file texts.
#include "fuzz/CFuzzInput.h"
#include "fuzz/FuzzCheck.h"
#include "serial/CComPort.h"
#include "serial/PortDiscovery.h"
#include "tests/support/CTempRoot.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

using fwtest::CTempRoot;
using fwup::fuzz::CFuzzInput;

constexpr const char* kBus = "pci0000:00/0000:00:14.0/usb1";
constexpr const char* kOutsideText = "read from outside the root";

struct Scratch {
    CTempRoot root{true, "fwup-fuzz-sysfs"};       // FWUP_SYSROOT for the process
    CTempRoot outside{false, "fwup-fuzz-outside"}; // what links out of the root reach
    Scratch() { std::ofstream(outside.Path() + "/product") << kOutsideText; }
};

Scratch& TheScratch() {
    static Scratch scratch;
    return scratch;
}

std::string Trim(const std::string& strText) {
    const char* pszBlanks = " \t\r\n";
    const size_t nFirst = strText.find_first_not_of(pszBlanks);
    if (nFirst == std::string::npos) {
        return {};
    }
    return strText.substr(nFirst, strText.find_last_not_of(pszBlanks) - nFirst + 1);
}

// The listed description of an attribute text: trimmed, and with what the name
// readers would mistake for the port part ("COM", parentheses) defused, so that
// every listed name reads back to its own number.
std::string ListedDescription(const std::string& strText) {
    std::string strDescription = Trim(strText.substr(0, 4096));
    std::replace(strDescription.begin(), strDescription.end(), '(', '[');
    std::replace(strDescription.begin(), strDescription.end(), ')', ']');
    for (size_t n = strDescription.find("COM"); n != std::string::npos;
         n = strDescription.find("COM", n)) {
        strDescription.replace(n, 3, "Com");
    }
    return strDescription;
}

size_t CountChars(const std::string& strUtf8) {
    return static_cast<size_t>(std::count_if(strUtf8.begin(), strUtf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// For reading a finding: the bytes of a text, escaped.
void PrintBytes(const char* pszWhat, const std::string& strText) {
    std::fprintf(stderr, "%s (%zu bytes): \"", pszWhat, strText.size());
    for (const unsigned char c : strText) {
        std::fprintf(stderr, c >= 0x20 && c < 0x7F && c != '\\' ? "%c" : "\\x%02x", c);
    }
    std::fprintf(stderr, "\"\n");
}

void WriteFile(const fs::path& path, const std::string& strText) {
    std::ofstream file(path, std::ios::binary);
    file << strText;
}

std::string TtyName(CFuzzInput& input, int nIndex) {
    std::string strName = input.Bytes(input.Byte() % 24);
    std::replace(strName.begin(), strName.end(), '/', '_');
    std::replace(strName.begin(), strName.end(), '\0', '_');
    if (strName.empty() || strName == "." || strName == "..") {
        strName = "ttyACM" + std::to_string(nIndex);
    }
    return strName;
}

// What the tree should list for one tty.
struct Expected {
    std::string strDescription;
    std::string strConnector;
    bool bListed = false;
    bool bProductOutside = false; // the USB device's product file links out of the root
};

std::map<std::string, Expected> BuildTree(CFuzzInput& input, const fs::path& root,
                                          const fs::path& outside) {
    std::error_code ec;
    const fs::path devices = root / "sys/devices" / kBus;
    const fs::path classDir = root / "sys/class/tty";
    fs::create_directories(devices, ec);
    fs::create_directories(classDir, ec);
    fs::create_directories(root / "dev", ec);

    std::map<std::string, Expected> expected;
    std::map<std::string, std::string> usbDescription; // first writer of a USB device wins
    std::map<std::string, bool> usbVendor;
    std::set<std::string> usbOutside;
    const int nTtys = input.Byte() % 7;
    for (int i = 0; i < nTtys; ++i) {
        const uint8_t nFlags = input.Byte();
        const std::string strUsb = "1-" + std::to_string(input.Byte() % 4);
        const std::string strIface = strUsb + ":1." + std::to_string(input.Byte() % 3);
        const std::string strTty = TtyName(input, i);
        std::string strProduct = input.Bytes(input.Byte());
        if (nFlags & 0x40) {
            std::string strLong;
            for (int n = 0; n < 40; ++n) {
                strLong += strProduct;
            }
            strProduct = strLong;
        }
        const std::string strInterface = input.Bytes(input.Byte() % 64);
        if (expected.count(strTty) != 0) {
            continue; // the name is taken: this tty does not exist
        }

        const fs::path usbDir = devices / strUsb;
        const fs::path ifaceDir = usbDir / strIface;
        const fs::path ttyDir = ifaceDir / "tty" / strTty;
        if (usbDescription.count(strUsb) == 0) {
            fs::create_directories(usbDir, ec);
            const bool bVendor = (nFlags & 0x80) == 0;
            if (bVendor) {
                WriteFile(usbDir / "idVendor", "03eb\n");
            }
            usbVendor[strUsb] = bVendor;
            std::string strDescription;
            if ((nFlags & 0x28) == 0x28) {
                ::mkfifo((usbDir / "product").c_str(), 0600); // reading it would block
            } else if (nFlags & 0x20) {
                fs::create_symlink(outside / "product", usbDir / "product", ec);
                usbOutside.insert(strUsb);
            } else if (nFlags & 0x08) {
                WriteFile(usbDir / "product", strProduct);
                strDescription = ListedDescription(strProduct);
            }
            usbDescription[strUsb] = strDescription;
        }
        const bool bNewIface = !fs::exists(ifaceDir, ec);
        fs::create_directories(ttyDir, ec);
        if (bNewIface && (nFlags & 0x10)) {
            WriteFile(ifaceDir / "interface", strInterface);
        }
        std::string strIfaceText;
        if (std::ifstream file(ifaceDir / "interface", std::ios::binary); file) {
            strIfaceText.assign(std::istreambuf_iterator<char>(file), {});
        }

        const fs::path classLink = classDir / strTty;
        Expected& entry = expected[strTty];
        entry.strConnector = std::string(kBus) + "/" + strUsb + ":" + strIface;
        switch (nFlags & 7) {
        case 3: // absolute, to the machine's own sysfs: outside the root
            fs::create_directory_symlink("/sys/devices/" + std::string(kBus), classLink, ec);
            break;
        case 4: // climbs out of the root
            fs::create_directory_symlink("../../../../../../../../../../../../../tmp", classLink,
                                         ec);
            break;
        case 5: // a loop through the device link
            fs::create_directory_symlink(fs::path("../../devices") / kBus / strUsb / strIface /
                                             "tty" / strTty,
                                         classLink, ec);
            fs::create_directory_symlink("device", ttyDir / "device", ec);
            break;
        case 6: // dangling
            fs::create_directory_symlink(fs::path("../../devices") / kBus / strUsb / strIface /
                                             "tty" / strTty,
                                         classLink, ec);
            fs::create_directory_symlink("../../../gone", ttyDir / "device", ec);
            break;
        case 7: // a plain file where the class link belongs
            WriteFile(classLink, "not a link");
            break;
        default: // as the kernel makes it
            fs::create_directory_symlink(fs::path("../../devices") / kBus / strUsb / strIface /
                                             "tty" / strTty,
                                         classLink, ec);
            fs::create_directory_symlink("../../../" + strIface, ttyDir / "device", ec);
            entry.bListed = usbVendor[strUsb];
            break;
        }
        WriteFile(root / "dev" / strTty, "");
        entry.bProductOutside = usbOutside.count(strUsb) != 0;
        // Only regular files count: a product linked outside the root is no product.
        if (!usbDescription[strUsb].empty()) {
            entry.strDescription = usbDescription[strUsb];
        } else if (!ListedDescription(strIfaceText).empty()) {
            entry.strDescription = ListedDescription(strIfaceText);
        } else {
            entry.strDescription = "USB Serial Device";
        }
    }
    return expected;
}

void CheckNameReaders(const std::string& strName) {
    const int nPort = fwup::CComPort::PortNumberFromName(strName);
    FUZZ_CHECK(nPort == 0 || strName.find("COM") != std::string::npos, "number without COM");
    const std::string strDescription = fwup::PortDescriptionFromName(strName);
    FUZZ_CHECK(strName.find(strDescription) != std::string::npos, "description not from the name");
}

} // namespace

// Scratch space and devices are made before fuzzing starts: libFuzzer then does not
// learn their paths from comparisons, and a fixed seed gives the same runs.
extern "C" int LLVMFuzzerInitialize(int* /*pArgc*/, char*** /*pArgv*/) {
    TheScratch();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    Scratch& scratch = TheScratch();
    CFuzzInput input(pData, nSize);
    CheckNameReaders(std::string(reinterpret_cast<const char*>(pData), nSize));

    const fs::path root = scratch.root.Path();
    std::error_code ec;
    for (const auto& child : fs::directory_iterator(root, ec)) {
        fs::remove_all(child.path(), ec);
    }
    const std::map<std::string, Expected> expected = BuildTree(input, root, scratch.outside.Path());

    static std::map<std::string, int> numbers; // connector -> number, over all inputs
    static std::set<int> usedNumbers;
    const std::vector<fwup::PortRecord> ports = fwup::ScanPorts();
    const std::vector<std::string> names = fwup::EnumeratePorts();
    FUZZ_CHECK(names.size() == ports.size(), "two scans of one tree differ");
    std::vector<std::string> listedTtys;
    for (size_t i = 0; i < ports.size(); ++i) {
        const fwup::PortRecord& port = ports[i];
        FUZZ_CHECK(names[i] == port.strName, "two scans of one tree differ");
        CheckNameReaders(port.strName);
        FUZZ_CHECK(CountChars(port.strName) < 150, "name of 150 characters or more");
        FUZZ_CHECK(port.nPort >= 1, "port number");
        FUZZ_CHECK(port.strName == port.strDescription + " (COM" + std::to_string(port.nPort) + ")",
                   "name is not description and number");
        FUZZ_CHECK(!port.strDescription.empty() && Trim(port.strDescription) == port.strDescription,
                   "description empty or untrimmed");
        const std::string strDevPrefix = scratch.root.Path() + "/dev/";
        FUZZ_CHECK(port.strDeviceNode.compare(0, strDevPrefix.size(), strDevPrefix) == 0,
                   "device node outside the root");
        const std::string strTty = port.strDeviceNode.substr(strDevPrefix.size());
        FUZZ_CHECK(strTty.find('/') == std::string::npos, "device node below dev/");
        listedTtys.push_back(strTty);

        const auto it = expected.find(strTty);
        FUZZ_CHECK(it != expected.end() && it->second.bListed, "a tty listed that is no USB port");
        FUZZ_CHECK(port.strConnector == it->second.strConnector, "connector");
        // The fact checked is the tree's own files: the input may well carry the
        // outside file's text in a product or interface file of its own.
        if (port.strDescription != it->second.strDescription) {
            PrintBytes("listed description", port.strDescription);
            PrintBytes("file's text       ", it->second.strDescription);
            FUZZ_CHECK(!(it->second.bProductOutside &&
                         port.strDescription == ListedDescription(kOutsideText)),
                       "description read from outside the root");
            FUZZ_CHECK(false, "description is not the product or interface text");
        }
        FUZZ_CHECK(fwup::CComPort::PortNumberFromName(port.strName) == port.nPort,
                   "listed name does not read back to its number");
        const std::string strRead = fwup::PortDescriptionFromName(port.strName);
        FUZZ_CHECK(strRead == port.strDescription || strRead == port.strDescription + " ",
                   "listed name does not read back to its description");
        // One number per connector for the life of the process, never shared.
        const auto [itNumber, bNew] = numbers.emplace(port.strConnector, port.nPort);
        FUZZ_CHECK(itNumber->second == port.nPort, "a connector changed its number");
        if (bNew) {
            FUZZ_CHECK(usedNumbers.insert(port.nPort).second, "two connectors share a number");
        }
    }
    FUZZ_CHECK(std::is_sorted(listedTtys.begin(), listedTtys.end()), "not in tty-name order");
    // Open(n) finds its node through DeviceNodeForPort: the first tty listed with n.
    for (const fwup::PortRecord& port : ports) {
        const auto itFirst = std::find_if(ports.begin(), ports.end(), [&](const auto& other) {
            return other.nPort == port.nPort;
        });
        FUZZ_CHECK(fwup::DeviceNodeForPort(port.nPort) == itFirst->strDeviceNode,
                   "device node of a listed number");
    }
    FUZZ_CHECK(fwup::DeviceNodeForPort(0).empty(), "a node for port 0");
    for (const auto& [strTty, entry] : expected) {
        // Short descriptions always fit: 130 characters leave room for " (COM<n>)".
        if (entry.bListed && CountChars(entry.strDescription) <= 130) {
            FUZZ_CHECK(std::count(listedTtys.begin(), listedTtys.end(), strTty) == 1,
                       "a USB tty is missing");
        }
    }
    return 0;
}
