// Cost of one port enumeration (EnumeratePorts) over a fake sysfs tree laid out
// as the kernel lays out USB CDC-ACM ports, with 1 and with 64 USB ports, and with
// a desktop's usual crowd of non-USB ttys (virtual consoles, legacy UARTs) beside
// one port. Every presence test and every 100 ms poll of the waits is one such
// enumeration. Prints microseconds per enumeration; figures only.

#include "serial/CComPort.h"
#include "serial/PortAccess.h"
#include "serial/PortDiscovery.h"
#include "sim/CVirtualPort.h"
#include "tests/support/CTempRoot.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

void WriteText(const fs::path& path, const std::string& strText) {
    std::ofstream(path, std::ios::binary) << strText << '\n';
}

void Link(const std::string& strTarget, const fs::path& linkPath) {
    std::error_code ec;
    fs::create_directory_symlink(strTarget, linkPath, ec);
}

// A fake root below the temporary directory (the tests' CTempRoot), removed with
// everything in it; each case points FWUP_SYSROOT at its own.
class CFakeRoot {
public:
    CFakeRoot() : m_path(m_root.Path()) {
        fs::create_directories(m_path / "sys/class/tty");
        fs::create_directories(m_path / "dev");
    }

    // ttyACM<n> on USB device 1-<n+1> (hub ports 1-<a>.<b> beyond 8, as real hubs do).
    void AddUsbPort(int n) {
        const std::string strUsb =
            n < 8 ? "1-" + std::to_string(n + 1)
                  : "1-" + std::to_string(n / 8) + "." + std::to_string(n % 8 + 1);
        const std::string strIface = strUsb + ":1.0";
        const std::string strTty = "ttyACM" + std::to_string(n);
        const std::string strBus = "pci0000:00/0000:00:14.0/usb1/";
        const fs::path usbDir = m_path / "sys/devices" / strBus / strUsb;
        const fs::path ttyDir = usbDir / strIface / "tty" / strTty;
        fs::create_directories(ttyDir);
        WriteText(usbDir / "idVendor", "03eb");
        WriteText(usbDir / "idProduct", "6119");
        WriteText(usbDir / "product", "AT91 USB to Serial Converter");
        WriteText(usbDir / "serial", std::to_string(1000 + n));
        WriteText(usbDir / strIface / "bInterfaceNumber", "00");
        WriteText(usbDir / strIface / "interface", "CDC Abstract Control Model (ACM)");
        Link("../../../" + strIface, ttyDir / "device");
        Link("../../devices/" + strBus + strUsb + "/" + strIface + "/tty/" + strTty,
             m_path / "sys/class/tty" / strTty);
        WriteText(m_path / "dev" / strTty, "");
    }

    // A virtual console: no device link at all.
    void AddConsole(int n) {
        const std::string strTty = "tty" + std::to_string(n);
        fs::create_directories(m_path / "sys/devices/virtual/tty" / strTty);
        Link("../../devices/virtual/tty/" + strTty, m_path / "sys/class/tty" / strTty);
    }

    // A legacy UART: a device link, but no USB device above it.
    void AddUart(int n) {
        const std::string strTty = "ttyS" + std::to_string(n);
        const fs::path ttyDir = m_path / "sys/devices/platform/serial8250/tty" / strTty;
        fs::create_directories(ttyDir);
        Link("../../../serial8250", ttyDir / "device");
        Link("../../devices/platform/serial8250/tty/" + strTty, m_path / "sys/class/tty" / strTty);
    }

    std::string Path() const { return m_path.string(); }

private:
    fwtest::CTempRoot m_root{false};
    fs::path m_path;
};

void Measure(const char* pszCase, CFakeRoot& root, size_t nExpected, int nCalls) {
    ::setenv("FWUP_SYSROOT", root.Path().c_str(), 1);
    const size_t nListed = fwup::EnumeratePorts().size(); // also warms the caches
    size_t nTotal = 0;
    const auto tpStart = Clock::now();
    for (int i = 0; i < nCalls; ++i) {
        nTotal += fwup::EnumeratePorts().size();
    }
    const double dSeconds = std::chrono::duration<double>(Clock::now() - tpStart).count();
    std::printf("%-36s: %9.1f us per enumeration  (%zu listed%s, %d calls)\n", pszCase,
                dSeconds * 1e6 / nCalls, nListed, nListed == nExpected ? "" : " - UNEXPECTED",
                nCalls);
    if (nTotal != nListed * static_cast<size_t>(nCalls)) {
        std::printf("  (the list changed between calls)\n");
    }
}

// What refusing a port that another program opened first costs each open: one
// scan of /proc for the node's holders, measured while 64 simulated readers are
// plugged and all 64 ports are open here (the bench's crowd of descriptors).
void MeasureOpens(int nCalls) {
    CFakeRoot root;
    ::setenv("FWUP_SYSROOT", root.Path().c_str(), 1);
    std::vector<std::unique_ptr<fwsim::CVirtualPort>> ports;
    std::vector<std::unique_ptr<fwup::CComPort>> opened;
    for (int i = 0; i < 64; ++i) {
        fwsim::VirtualPortConfig config;
        config.strRoot = root.Path();
        config.strUsbPath = "1-" + std::to_string(i + 1);
        config.strTtyName = "ttyACM" + std::to_string(i);
        ports.push_back(std::make_unique<fwsim::CVirtualPort>(config));
        if (!ports.back()->Plug()) {
            std::printf("cannot plug simulated port %d\n", i);
            return;
        }
    }
    const std::vector<fwup::PortRecord> records = fwup::ScanPorts();
    for (const fwup::PortRecord& record : records) {
        opened.push_back(std::make_unique<fwup::CComPort>(record));
    }
    const std::string strNode = ports.front()->DevicePath();
    size_t nHolders = 0;
    const auto tpScan = Clock::now();
    for (int i = 0; i < nCalls; ++i) {
        nHolders += fwup::FindEarlierHolders(strNode).size();
    }
    const double dScanMs =
        std::chrono::duration<double, std::milli>(Clock::now() - tpScan).count() / nCalls;
    // A whole open (the scan included) of a port closed just before.
    opened.front().reset();
    const auto tpOpen = Clock::now();
    for (int i = 0; i < nCalls; ++i) {
        fwup::CComPort port(records.front());
        nHolders += port.IsOpen() ? 0 : 1000;
    }
    const double dOpenMs =
        std::chrono::duration<double, std::milli>(Clock::now() - tpOpen).count() / nCalls;
    std::printf("%-36s: %9.3f ms per holder scan, %.3f ms per open with it (%zu ports open%s)\n",
                "64 open ports, earlier-opener check", dScanMs, dOpenMs, opened.size() - 1,
                nHolders == 0 ? "" : " - UNEXPECTED holders");
}

} // namespace

int main(int argc, char** argv) {
    // An optional factor scales the number of calls (e.g. 0.1 for a quick look).
    const double dScale = argc > 1 ? std::atof(argv[1]) : 1.0;
    auto calls = [dScale](int n) { return std::max(1, static_cast<int>(n * dScale)); };

    CFakeRoot one;
    one.AddUsbPort(0);
    Measure("1 USB port", one, 1, calls(5000));

    CFakeRoot many;
    for (int i = 0; i < 64; ++i) {
        many.AddUsbPort(i);
    }
    Measure("64 USB ports", many, 64, calls(200));

    CFakeRoot desktop;
    for (int i = 0; i < 64; ++i) {
        desktop.AddConsole(i);
    }
    for (int i = 0; i < 32; ++i) {
        desktop.AddUart(i);
    }
    desktop.AddUsbPort(0);
    Measure("1 USB port + 64 consoles + 32 UARTs", desktop, 1, calls(1000));

    MeasureOpens(calls(64));
    return 0;
}
