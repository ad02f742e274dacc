// Windows discovery's text rules: port names and the ports class's friendly names.
#include "serial/ComPortNames.h"

#include <gtest/gtest.h>

namespace {

TEST(ComNumberFromPortName, OnlyAWholeComName) {
    const std::pair<const char*, int> cases[] = {
        {"COM1", 1},      {"COM9", 9}, {"COM12", 12}, {"com7", 7},        {"COM99999", 99999},
        {"COM100000", 0}, {"COM", 0},  {"COM0", 0},   {"COM-3", 0},       {"COM 3", 0},
        {"COM3 ", 0},     {"LPT1", 0}, {"XCOM3", 0},  {"\\\\.\\COM3", 0}, {"", 0},
    };
    for (const auto& [pszName, nExpected] : cases) {
        EXPECT_EQ(fwup::ComNumberFromPortName(pszName), nExpected) << pszName;
    }
}

TEST(SplitFriendlyName, NumberFromTheTrailingComOnly) {
    struct Case {
        const char* pszName;
        const char* pszDescription;
        int nPort;
    };
    const Case cases[] = {
        {"AT91 USB to Serial Converter (COM5)", "AT91 USB to Serial Converter", 5},
        {"Communications Port (COM1)", "Communications Port", 1},
        {"USB Serial Device (COM12)", "USB Serial Device", 12},
        {"MY COMPANY Modem (COM3)", "MY COMPANY Modem", 3},
        {"Modem (ISDN) (COM4)", "Modem (ISDN)", 4},
        {"Adapter (COM2) (COM8)", "Adapter (COM2)", 8},
        {"ECP Printer Port (LPT1)", "ECP Printer Port (LPT1)", 0},
        {"Bluetooth link", "Bluetooth link", 0},
        {"Modem (COM4", "Modem (COM4", 0},
        {"Modem (COM4) spare", "Modem (COM4) spare", 0},
        {"(COM6)", "", 6},
        {"", "", 0},
    };
    for (const Case& c : cases) {
        const fwup::FriendlyNameParts parts = fwup::SplitFriendlyName(c.pszName);
        EXPECT_EQ(parts.strDescription, c.pszDescription) << c.pszName;
        EXPECT_EQ(parts.nPort, c.nPort) << c.pszName;
    }
}

} // namespace
