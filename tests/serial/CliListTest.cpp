// fwupgrader-cli list against a prepared system root.
#include "tests/support/CTempRoot.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <sys/wait.h>

#ifdef FWUP_CLI_PATH

namespace {

std::string RunCli(const std::string& strArgs, int& nExit) {
    std::string strOut;
    FILE* pPipe = ::popen((std::string(FWUP_CLI_PATH) + " " + strArgs + " 2>&1").c_str(), "r");
    char szBuffer[512];
    while (pPipe != nullptr && std::fgets(szBuffer, sizeof szBuffer, pPipe) != nullptr) {
        strOut += szBuffer;
    }
    const int nStatus = pPipe != nullptr ? ::pclose(pPipe) : -1;
    nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    return strOut;
}

TEST(CliList, ListsTheUsbSerialPortsWithNameNodeAndConnector) {
    fwtest::CTempRoot root;
    fwtest::AddFakeTty(root.Path(), "ttyACM0", true, "1-1", "AT91 USB to Serial Converter");
    fwtest::AddFakeTty(root.Path(), "ttyACM1", true, "1-2", "Another Gadget");
    fwtest::AddFakeTty(root.Path(), "ttyS0", false);
    fwtest::AddFakeTty(root.Path(), "ttyUSB0", true, "1-3", std::string(160, 'P'));

    int nExit = -1;
    const std::string strOut = RunCli("list", nExit);
    EXPECT_EQ(nExit, 0);
    std::istringstream lines(strOut);
    std::string strLine;
    std::vector<std::string> listed;
    while (std::getline(lines, strLine)) {
        listed.push_back(strLine);
    }
    ASSERT_EQ(listed.size(), 2u) << strOut;
    // Name, node, connector (the USB path below sys/devices and the interface).
    const std::string strUsb = "\tpci0000:00/0000:00:14.0/usb1/";
    EXPECT_EQ(listed[0], "AT91 USB to Serial Converter (COM1)\t" + root.Path() + "/dev/ttyACM0" +
                             strUsb + "1-1:1-1:1.0");
    EXPECT_EQ(listed[1],
              "Another Gadget (COM2)\t" + root.Path() + "/dev/ttyACM1" + strUsb + "1-2:1-2:1.0");
}

TEST(CliList, BadCommandLinesExitWithUsage) {
    int nExit = -1;
    RunCli("list extra", nExit);
    EXPECT_EQ(nExit, 2);
    RunCli("frobnicate", nExit);
    EXPECT_EQ(nExit, 2);
    RunCli("update --file", nExit);
    EXPECT_EQ(nExit, 2);
    RunCli("update --file x.bin", nExit);
    EXPECT_EQ(nExit, 2) << "a port is required";
    RunCli("auto --count many --file x.bin", nExit);
    EXPECT_EQ(nExit, 2);
    const std::string strHelp = RunCli("update --help", nExit);
    EXPECT_EQ(nExit, 0);
    EXPECT_NE(strHelp.find("14  Communication Error"), std::string::npos);
}

} // namespace

#endif
