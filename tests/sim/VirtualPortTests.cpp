// The virtual port seen from the host: the sysfs tree a port scan reads, the
// device node, the hang-up on unplug, the return under another name, pacing.
#include "HostLink.h"
#include "sim/CVirtualPort.h"
#include "tests/support/CTempRoot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace fwsim {
namespace {

namespace fs = std::filesystem;
using fwtest::CTempRoot;
using test::HostLink;

std::string ReadText(const fs::path& path) {
    std::ifstream file(path);
    std::string strText;
    std::getline(file, strText);
    return strText;
}

VirtualPortConfig MakeConfig(const std::string& strRoot) {
    VirtualPortConfig config;
    config.strRoot = strRoot;
    return config;
}

TEST(VirtualPort, PublishesTheKernelsLayout) {
    CTempRoot root(false);
    CVirtualPort port(MakeConfig(root.Path()));
    ASSERT_TRUE(port.Plug()) << port.LastError();
    const fs::path rootPath(root.Path());
    const fs::path classLink = rootPath / "sys/class/tty/ttyACM0";
    ASSERT_TRUE(fs::is_symlink(classLink));
    EXPECT_TRUE(fs::path(fs::read_symlink(classLink)).is_relative());
    // The way a port scan goes: class entry -> device link -> interface -> USB device.
    const fs::path ttyDir = fs::canonical(classLink);
    const fs::path interfaceDir = fs::canonical(ttyDir / "device");
    EXPECT_EQ(interfaceDir.filename(), "1-1:1.0");
    EXPECT_EQ(ReadText(interfaceDir / "bInterfaceNumber"), "00");
    EXPECT_TRUE(fs::exists(interfaceDir / "interface"));
    fs::path usbDir;
    for (fs::path dir = interfaceDir; dir != dir.root_path(); dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor")) {
            usbDir = dir;
            break;
        }
    }
    ASSERT_FALSE(usbDir.empty());
    EXPECT_EQ(usbDir.filename(), "1-1");
    EXPECT_EQ(ReadText(usbDir / "idVendor"), "03eb");
    EXPECT_EQ(ReadText(usbDir / "idProduct"), "6119");
    EXPECT_EQ(ReadText(usbDir / "product"), "AT91 USB to Serial Converter");
    EXPECT_EQ(usbDir.parent_path(),
              fs::canonical(rootPath / "sys/devices/pci0000:00/0000:00:14.0/usb1"));
    // Everything stays below the root.
    const std::string strRootReal = fs::canonical(rootPath).string();
    EXPECT_EQ(ttyDir.string().rfind(strRootReal, 0), 0u);
    // The device node leads to the pty slave.
    EXPECT_EQ(port.DevicePath(), (rootPath / "dev/ttyACM0").string());
    EXPECT_EQ(fs::read_symlink(port.DevicePath()).string(), port.SlavePath());
    EXPECT_EQ(port.SlavePath().rfind("/dev/pts/", 0), 0u);
    // No temporary link names are left behind.
    for (const auto& entry : fs::directory_iterator(rootPath / "dev")) {
        EXPECT_EQ(entry.path().filename(), "ttyACM0");
    }
}

TEST(VirtualPort, EmptyProductLeavesTheFileOut) {
    CTempRoot root(false);
    VirtualPortConfig config = MakeConfig(root.Path());
    config.strProduct.clear();
    CVirtualPort port(config);
    ASSERT_TRUE(port.Plug());
    const fs::path usbDir = fs::path(root.Path()) / "sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";
    EXPECT_TRUE(fs::exists(usbDir / "idVendor"));
    EXPECT_FALSE(fs::exists(usbDir / "product"));
}

TEST(VirtualPort, CarriesBytesBothWaysRaw) {
    CTempRoot root(false);
    CVirtualPort port(MakeConfig(root.Path()));
    ASSERT_TRUE(port.Plug());
    HostLink host;
    ASSERT_TRUE(host.Open(port.DevicePath()));
    // Every byte value, CR LF and ^C included, must pass untouched (no echo either).
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i) {
        all[i] = static_cast<uint8_t>(i);
    }
    ASSERT_TRUE(host.Write(all));
    std::vector<uint8_t> received;
    while (received.size() < all.size()) {
        uint8_t buffer[300];
        const ssize_t n = port.Receive(buffer, sizeof(buffer), 1000);
        ASSERT_GT(n, 0);
        received.insert(received.end(), buffer, buffer + n);
    }
    EXPECT_EQ(received, all);
    ASSERT_TRUE(port.Send(all.data(), all.size()));
    EXPECT_EQ(host.Read(256, 1000), all);
    EXPECT_TRUE(host.Silent(50)); // no echo of what the host wrote
}

TEST(VirtualPort, ReceiveTimesOutAndInterruptEndsTheWait) {
    CTempRoot root(false);
    CVirtualPort port(MakeConfig(root.Path()));
    ASSERT_TRUE(port.Plug());
    uint8_t buffer[8];
    EXPECT_EQ(port.Receive(buffer, sizeof(buffer), 30), 0);
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        port.Interrupt();
    });
    EXPECT_EQ(port.Receive(buffer, sizeof(buffer), -1), 0);
    waker.join();
}

TEST(VirtualPort, UnplugHangsUpTheHostAndRemovesTheEntries) {
    CTempRoot root(false);
    CVirtualPort port(MakeConfig(root.Path()));
    ASSERT_TRUE(port.Plug());
    HostLink host;
    ASSERT_TRUE(host.Open(port.DevicePath()));
    // The host may have the port closed and reopened meanwhile: nothing spins or breaks.
    host.Close();
    ASSERT_TRUE(port.Send(std::string("queued")));
    ASSERT_TRUE(host.Open(port.DevicePath()));

    std::thread reader([&] {
        uint8_t buffer[8];
        EXPECT_EQ(port.Receive(buffer, sizeof(buffer), -1), -1); // woken by the unplug
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    port.Unplug();
    reader.join();
    EXPECT_FALSE(port.IsPlugged());
    EXPECT_EQ(port.MasterFd(), -1);
    const fs::path rootPath(root.Path());
    EXPECT_FALSE(fs::exists(fs::symlink_status(rootPath / "sys/class/tty/ttyACM0")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(rootPath / "dev/ttyACM0")));
    EXPECT_FALSE(fs::exists(rootPath / "sys/devices/pci0000:00/0000:00:14.0/usb1/1-1"));

    pollfd fd{host.Fd(), POLLIN, 0};
    ASSERT_EQ(poll(&fd, 1, 1000), 1);
    EXPECT_NE(fd.revents & (POLLHUP | POLLERR), 0);
    uint8_t byte;
    ssize_t n;
    do { // bytes still queued may come first; then the end
        n = read(host.Fd(), &byte, 1);
    } while (n > 0);
    EXPECT_TRUE(n == 0 || (n == -1 && errno == EIO)) << n << " " << errno;
    EXPECT_FALSE(port.Send(std::string("x")));
    uint8_t buffer[8];
    EXPECT_EQ(port.Receive(buffer, sizeof(buffer), 10), -1);
}

TEST(VirtualPort, ComesBackUnderAnotherNameAtTheSameUsbPath) {
    CTempRoot root(false);
    CVirtualPort port(MakeConfig(root.Path()));
    ASSERT_TRUE(port.Plug());
    const std::string strFirstSlave = port.SlavePath();
    port.Unplug();
    ASSERT_TRUE(port.Plug("ttyACM3", "AT91 Boot Loader"));
    const fs::path rootPath(root.Path());
    EXPECT_FALSE(fs::exists(fs::symlink_status(rootPath / "sys/class/tty/ttyACM0")));
    const fs::path interfaceDir = fs::canonical(rootPath / "sys/class/tty/ttyACM3" / "device");
    EXPECT_EQ(interfaceDir.filename(), "1-1:1.0");
    EXPECT_EQ(ReadText(interfaceDir.parent_path() / "product"), "AT91 Boot Loader");
    EXPECT_EQ(port.DevicePath(), (rootPath / "dev/ttyACM3").string());
    HostLink host;
    ASSERT_TRUE(host.Open(port.DevicePath()));
    ASSERT_TRUE(port.Send(std::string("hi")));
    EXPECT_EQ(host.Read(2, 1000), (std::vector<uint8_t>{'h', 'i'}));
    (void)strFirstSlave;
}

TEST(VirtualPort, SeveralPortsInOneRootAndProcess) {
    CTempRoot root(false);
    std::vector<std::unique_ptr<CVirtualPort>> ports;
    for (int i = 0; i < 3; ++i) {
        VirtualPortConfig config = MakeConfig(root.Path());
        config.strUsbPath = "1-" + std::to_string(i + 1);
        config.strTtyName = "ttyACM" + std::to_string(i);
        ports.push_back(std::make_unique<CVirtualPort>(config));
    }
    std::vector<std::thread> threads;
    for (auto& port : ports) {
        threads.emplace_back([&port] { EXPECT_TRUE(port->Plug()); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int i = 0; i < 3; ++i) {
        HostLink host;
        ASSERT_TRUE(host.Open(ports[i]->DevicePath()));
        ASSERT_TRUE(ports[i]->Send(std::string(1, static_cast<char>('a' + i))));
        EXPECT_EQ(host.Read(1, 1000), std::vector<uint8_t>{static_cast<uint8_t>('a' + i)});
        EXPECT_EQ(fs::canonical(fs::path(root.Path()) / "sys/class/tty" /
                                ("ttyACM" + std::to_string(i)) / "device")
                      .filename(),
                  "1-" + std::to_string(i + 1) + ":1.0");
    }
    ports[1]->Unplug();
    EXPECT_TRUE(fs::exists(fs::path(root.Path()) / "sys/class/tty/ttyACM0"));
    EXPECT_TRUE(fs::exists(fs::path(root.Path()) / "sys/class/tty/ttyACM2"));
}

// Pacing can only be checked from below without a timed race: 1152 bytes at
// 11,520 bytes/s cannot take less than about 100 ms in either direction.
TEST(VirtualPort, PacingNeverExceedsTheLineRate) {
    CTempRoot root(false);
    VirtualPortConfig config = MakeConfig(root.Path());
    config.bPaced = true;
    CVirtualPort port(config);
    ASSERT_TRUE(port.Plug());
    HostLink host;
    ASSERT_TRUE(host.Open(port.DevicePath()));
    const std::vector<uint8_t> bytes(1152, 0x5A);
    const auto tpStart = std::chrono::steady_clock::now();
    std::thread sender([&] { EXPECT_TRUE(port.Send(bytes.data(), bytes.size())); });
    EXPECT_EQ(host.Read(bytes.size(), 5000).size(), bytes.size());
    sender.join();
    EXPECT_GE(std::chrono::steady_clock::now() - tpStart, std::chrono::milliseconds(90));

    ASSERT_TRUE(host.Write(bytes));
    const auto tpRx = std::chrono::steady_clock::now();
    size_t nReceived = 0;
    uint8_t buffer[2048];
    while (nReceived < bytes.size()) {
        const ssize_t n = port.Receive(buffer, sizeof(buffer), 2000);
        ASSERT_GT(n, 0);
        nReceived += static_cast<size_t>(n);
    }
    EXPECT_GE(std::chrono::steady_clock::now() - tpRx, std::chrono::milliseconds(90));
}

} // namespace
} // namespace fwsim
