// Port discovery over static sysfs trees (no pty needed to be listed).
#include "serial/CComPort.h"
#include "serial/PortDiscovery.h"
#include "tests/support/CTempRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>

namespace fs = std::filesystem;
using fwtest::AddFakeTty;
using fwtest::CTempRoot;

namespace {

TEST(Discovery, EmptyTreeListsNothing) {
    CTempRoot root;
    EXPECT_TRUE(fwup::EnumeratePorts().empty());
    fwup::CComPort port("AT91 USB to Serial Converter (COM5)", 1024, 20480);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.IsPresent());
}

TEST(Discovery, ListsUsbTtysOnlyAndLeavesOutOverlongNames) {
    CTempRoot root;
    AddFakeTty(root.Path(), "ttyACM0", true, "1-1", "AT91 USB to Serial Converter");
    AddFakeTty(root.Path(), "ttyACM1", true, "1-2", "Other Gadget");
    AddFakeTty(root.Path(), "ttyS0", false);
    AddFakeTty(root.Path(), "ttyACM2", true, "1-3", std::string(160, 'x'));

    const std::vector<fwup::PortRecord> ports = fwup::ScanPorts();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].strDescription, "AT91 USB to Serial Converter");
    EXPECT_EQ(ports[1].strDescription, "Other Gadget");
    std::set<int> numbers;
    for (const fwup::PortRecord& entry : ports) {
        EXPECT_EQ(entry.strName,
                  entry.strDescription + " (COM" + std::to_string(entry.nPort) + ")");
        EXPECT_EQ(fwup::CComPort::PortNumberFromName(entry.strName), entry.nPort);
        numbers.insert(entry.nPort);
    }
    EXPECT_EQ(numbers.size(), 2u) << "each connector has its own number";
    EXPECT_EQ(ports[0].strDeviceNode, (fs::path(root.Path()) / "dev/ttyACM0").string());
    EXPECT_EQ(ports[1].strDeviceNode, (fs::path(root.Path()) / "dev/ttyACM1").string());
}

TEST(Discovery, DescriptionFallsBackToInterfaceThenGenericText) {
    CTempRoot root;
    AddFakeTty(root.Path(), "ttyACM0", true, "2-1", "");
    AddFakeTty(root.Path(), "ttyACM1", true, "2-2", "");
    std::ofstream(fs::path(root.Path()) /
                  "sys/devices/pci0000:00/0000:00:14.0/usb1/2-2/2-2:1.0/interface")
        << "CDC Abstract Control Model\n";
    const std::vector<fwup::PortRecord> ports = fwup::ScanPorts();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].strDescription, "USB Serial Device");
    EXPECT_EQ(ports[1].strDescription, "CDC Abstract Control Model");
}

TEST(Discovery, ProductTextsNeverHideThePortNumber) {
    CTempRoot root;
    AddFakeTty(root.Path(), "ttyACM0", true, "6-1", "USB COM Port");
    AddFakeTty(root.Path(), "ttyACM1", true, "6-2", "Reader (v2)");
    const std::vector<fwup::PortRecord> ports = fwup::ScanPorts();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].strDescription, "USB Com Port");
    EXPECT_EQ(ports[1].strDescription, "Reader [v2]");
    for (const fwup::PortRecord& entry : ports) {
        EXPECT_EQ(fwup::CComPort::PortNumberFromName(entry.strName), entry.nPort) << entry.strName;
        EXPECT_EQ(fwup::PortDescriptionFromName(entry.strName), entry.strDescription + " ");
    }
}

TEST(Discovery, AttributesThatAreNoRegularFilesAreNotRead) {
    CTempRoot root;
    AddFakeTty(root.Path(), "ttyACM0", true, "7-1", "");
    AddFakeTty(root.Path(), "ttyACM1", true, "7-2", "");
    const fs::path usb = fs::path(root.Path()) / "sys/devices/pci0000:00/0000:00:14.0/usb1";
    // A FIFO would block a reader for ever; a link could leave the root.
    ASSERT_EQ(::mkfifo((usb / "7-1/product").c_str(), 0600), 0);
    fs::create_symlink("/etc/hostname", usb / "7-2/product");
    const std::vector<fwup::PortRecord> ports = fwup::ScanPorts();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].strDescription, "USB Serial Device");
    EXPECT_EQ(ports[1].strDescription, "USB Serial Device");
}

TEST(Discovery, LinksThatLeaveTheRootAreIgnored) {
    CTempRoot root;
    fs::create_directories(fs::path(root.Path()) / "sys/class/tty/ttyEVIL");
    // A device link that climbs out of the tree to the real /sys must not be followed.
    fs::create_directory_symlink("../../../../../../../../../../sys/devices",
                                 fs::path(root.Path()) / "sys/class/tty/ttyEVIL/device");
    EXPECT_TRUE(fwup::EnumeratePorts().empty());
}

TEST(Discovery, ConnectorKeepsItsNumberUnderAnotherTtyNameAndProduct) {
    CTempRoot root;
    AddFakeTty(root.Path(), "ttyACM0", true, "3-1", "AT91 USB to Serial Converter");
    AddFakeTty(root.Path(), "ttyACM1", true, "3-2", "Second");
    const std::vector<fwup::PortRecord> before = fwup::ScanPorts();
    ASSERT_EQ(before.size(), 2u);

    // The first device restarts: its tty comes back as ttyACM7 with another product.
    fwtest::RemoveFakeTty(root.Path(), "ttyACM0");
    fs::remove_all(fs::path(root.Path()) / "sys/devices/pci0000:00/0000:00:14.0/usb1/3-1");
    AddFakeTty(root.Path(), "ttyACM7", true, "3-1", "Boot Loader");
    const std::vector<fwup::PortRecord> after = fwup::ScanPorts();
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[1].strDescription, "Boot Loader");
    EXPECT_EQ(after[1].nPort, before[0].nPort);
    EXPECT_EQ(after[0].nPort, before[1].nPort);
}

TEST(Discovery, PresenceByNameOrByNumber) {
    CTempRoot root;
    AddFakeTty(root.Path(), "ttyACM0", true, "4-1", "USB Serial Device");
    const std::vector<fwup::PortRecord> ports = fwup::ScanPorts();
    ASSERT_EQ(ports.size(), 1u);
    const int n = ports[0].nPort;
    const std::string strNumber = std::to_string(n);

    // Same number, other description: still present.
    EXPECT_TRUE(fwup::CComPort("AT91 USB to Serial Converter (COM" + strNumber + ")", 1024, 20480)
                    .IsPresent());
    // Empty name: present exactly when a listed name carries the number.
    EXPECT_TRUE(fwup::CComPort("(COM" + strNumber + ")", 1024, 20480).IsPresent());
    EXPECT_FALSE(
        fwup::CComPort("Gadget (COM" + std::to_string(n + 50) + ")", 1024, 20480).IsPresent());
}

TEST(Discovery, CloseAndWaitGoneWithoutNameReturnsAtOnce) {
    CTempRoot root;
    AddFakeTty(root.Path(), "ttyACM0", true, "5-1", "Gadget");
    fwup::CComPort port("", 1024, 20480);
    port.CloseAndWaitGone(true); // would never return if it waited: the port stays listed
    EXPECT_FALSE(port.IsOpen());
}

} // namespace
