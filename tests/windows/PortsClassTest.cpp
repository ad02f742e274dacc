// Discovery on Windows: devices of the ports class registered in the Wine prefix
// the way a USB serial driver lists them, and the serial port map where that
// class lists nothing.
#include "tests/windows/CPortsClassDevice.h"

#include "serial/ComPortNames.h"
#include "serial/PortDiscovery.h"
#include "serial/UsbTtyScan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

class PortsClassTest : public ::testing::Test {
protected:
    void SetUp() override { fwtest::CPortsClassDevice::RemoveAll(); }
    void TearDown() override { fwtest::CPortsClassDevice::RemoveAll(); }
};

TEST_F(PortsClassTest, FriendlyNameAndTheSystemsNumberMakeTheListedPort) {
    fwtest::CPortsClassDevice reader("1", "AT91 USB to Serial Converter (COM9)", "COM9");
    ASSERT_TRUE(reader.Registered());
    const std::vector<fwup::PortRecord> ports = fwup::ScanPorts();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].strName, "AT91 USB to Serial Converter (COM9)");
    EXPECT_EQ(ports[0].strDescription, "AT91 USB to Serial Converter");
    EXPECT_EQ(ports[0].nPort, 9);
    EXPECT_EQ(ports[0].strDeviceNode, "\\\\.\\COM9");
    EXPECT_EQ(ports[0].strConnector, "FWUPTEST\\FWUP_READER\\1");
    EXPECT_EQ(fwup::DeviceNodeForPort(9), "\\\\.\\COM9");
    EXPECT_EQ(fwup::DeviceNodeForPort(1), "");
}

TEST_F(PortsClassTest, PortNameWinsAndIncompleteOrLongNamesAreLeftOut) {
    const std::string strSuffix = " (COM11)";
    const std::string str149 = std::string(149 - strSuffix.size(), 'x') + strSuffix;
    const std::string str150 = std::string(150 - strSuffix.size(), 'y') + strSuffix;
    fwtest::CPortsClassDevice fits("a", str149, "COM11");
    fwtest::CPortsClassDevice tooLong("b", str150, "COM12");
    fwtest::CPortsClassDevice noHardwareId("c", "Bare Port (COM13)", "COM13", "");
    fwtest::CPortsClassDevice printer("d", "ECP Printer Port (LPT1)", "LPT1");
    fwtest::CPortsClassDevice renumbered("e", "Modem (COM4)", "COM14");
    fwtest::CPortsClassDevice noPortName("f", "Bluetooth Link (COM15)", "");
    for (const auto* pDevice :
         {&fits, &tooLong, &noHardwareId, &printer, &renumbered, &noPortName}) {
        ASSERT_TRUE(pDevice->Registered());
    }
    std::vector<std::string> names = fwup::EnumeratePorts();
    std::sort(names.begin(), names.end());
    const std::vector<std::string> expected = {"Bluetooth Link (COM15)", "Modem (COM14)", str149};
    EXPECT_EQ(names, expected);
}

TEST_F(PortsClassTest, WithoutSuchDevicesThePresentPortsOfTheMapAreListed) {
    // The prefix maps this port to a link that leads nowhere while no simulator runs.
    const char* pszAbsent = std::getenv("FWUP_TEST_ABSENT_COM");
    const int nAbsent = pszAbsent != nullptr ? fwup::ComNumberFromPortName(pszAbsent) : 0;
    int nPrevious = 0;
    for (const fwup::UsbTty& tty : fwup::ScanUsbTtys("")) {
        EXPECT_EQ(tty.strDescription, "USB Serial Device");
        EXPECT_EQ(tty.strTty, "COM" + std::to_string(tty.nPort));
        EXPECT_EQ(tty.strNode, "\\\\.\\COM" + std::to_string(tty.nPort));
        EXPECT_GT(tty.nPort, nPrevious); // in number order
        EXPECT_NE(tty.nPort, nAbsent) << "a port whose device has gone is listed";
        nPrevious = tty.nPort;
    }
}

} // namespace
