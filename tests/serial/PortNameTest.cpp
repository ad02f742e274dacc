// Reading port numbers and descriptions out of listed names.
#include "serial/CComPort.h"
#include "serial/PortDiscovery.h"

#include <gtest/gtest.h>

using fwup::CComPort;
using fwup::PortDescriptionFromName;

namespace {

struct NumberCase {
    const char* pszName;
    int nExpected;
};

TEST(PortNumberFromName, ReadsTheNumberThatFollowsTheFirstCom) {
    const NumberCase cases[] = {
        {"AT91 USB to Serial Converter (COM5)", 5},
        {"USB Serial Device (COM12)", 12},
        {"COM3", 0},                       // "COM" at position 0
        {"ECP Printer Port (LPT1)", 0},    // no "COM"
        {"Modem (ISDN) (COM4)", 0},        // first ")" lies before "COM"
        {"Modem (COM4", 0},                // no ")"
        {"XCOM7 (fast)", 7},               // "7 " up to the first "("
        {"Communications Port (COM1)", 1}, // "Com" does not count
        {"MY COMPANY Modem (COM3)", 0},    // the first "COM" is inside COMPANY
        {"", 0},
        {"Port (COM  42)", 42}, // leading blanks are skipped
        {"Port (COM-3)", -3},   // a sign is read like _wtoi does
        {"Port (COM99999999999)", 2147483647},
    };
    for (const NumberCase& c : cases) {
        EXPECT_EQ(CComPort::PortNumberFromName(c.pszName), c.nExpected) << c.pszName;
    }
}

struct DescriptionCase {
    const char* pszName;
    const char* pszExpected;
};

TEST(PortNumberFromLabel, OnlyABareComLabelNamesAPort) {
    const std::pair<const char*, int> cases[] = {
        {"COM5", 5}, {"COM12", 12}, {"COM0", 0},  {"COM5x", 0},        {"COM05", 0},
        {"com5", 0}, {"COM", 0},    {" COM5", 0}, {"Modem (COM5)", 0},
    };
    for (const auto& [pszLabel, nExpected] : cases) {
        EXPECT_EQ(CComPort::PortNumberFromLabel(pszLabel), nExpected) << pszLabel;
    }
}

TEST(PortDescriptionFromName, TakesTheTextBeforeOrInsideTheParentheses) {
    const DescriptionCase cases[] = {
        {"XCOM3 (Modem)", "Modem"},
        {"COM3 (Modem)", ""},   // "COM" at position 0
        {"XCOM3 Modem", ""},    // no parentheses
        {"Printer (LPT1)", ""}, // no "COM"
        {"AT91 USB to Serial Converter (COM5)", "AT91 USB to Serial Converter "},
        {"XCOM3 (Modem", ""}, // no ")" after "("
    };
    for (const DescriptionCase& c : cases) {
        EXPECT_EQ(PortDescriptionFromName(c.pszName), c.pszExpected) << c.pszName;
    }
}

TEST(GetLabel, UsesTheDeviceNameOrFallsBackToTheNumber) {
    CComPort named("Gadget (COM3)", 1024, 20480);
    EXPECT_EQ(named.GetLabel(), "Gadget (COM3)");
    EXPECT_FALSE(named.IsOpen());
    EXPECT_EQ(named.GetPortNumber(), 3);
    EXPECT_EQ(named.GetOpenedPort(), 3);

    CComPort unnamed("", 1024, 20480);
    EXPECT_EQ(unnamed.GetPortNumber(), 0);
    EXPECT_FALSE(unnamed.IsOpen());
    EXPECT_EQ(unnamed.GetLabel(), "COM0");
}

} // namespace
