// The DCB the port is opened with, and the check that makes a port whose
// settings do not stick fail to open.
#include "serial/DcbLineSettings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

// The DCB's flag word as the driver keeps it.
uint32_t FlagWord(const DCB& dcb) {
    uint32_t dwFlags = 0;
    std::memcpy(&dwFlags, reinterpret_cast<const uint8_t*>(&dcb) + 8, sizeof dwFlags);
    return dwFlags;
}

void SetFlagWord(DCB& dcb, uint32_t dwFlags) {
    std::memcpy(reinterpret_cast<uint8_t*>(&dcb) + 8, &dwFlags, sizeof dwFlags);
}

DCB DriverDefaults(uint32_t dwFlags) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = CBR_9600;
    SetFlagWord(dcb, dwFlags);
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = '?';
    dcb.EofChar = 0x1A;
    dcb.EvtChar = '\n';
    return dcb;
}

TEST(DcbLineSettings, FlagWordAndFieldsAsTheDeviceNeeds) {
    ASSERT_EQ(sizeof(DCB), 28u);
    for (uint32_t dwBefore : {0u, 0xFFFFFFFFu, 0xA5A5A5A5u}) {
        DCB dcb = DriverDefaults(dwBefore);
        fwup::ApplyLineSettings(dcb);
        // Bits 0, 4 and 12 set, 1-3, 5-11, 13 and 14 cleared, 15-31 as the driver had them.
        EXPECT_EQ(FlagWord(dcb), 0x1011u | (dwBefore & 0xFFFF8000u)) << std::hex << dwBefore;
        EXPECT_EQ(dcb.BaudRate, 115200u);
        EXPECT_EQ(dcb.ByteSize, 8);
        EXPECT_EQ(dcb.Parity, NOPARITY);
        EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
        const DCB before = DriverDefaults(dwBefore);
        EXPECT_EQ(dcb.XonLim, before.XonLim);
        EXPECT_EQ(dcb.XoffLim, before.XoffLim);
        EXPECT_EQ(dcb.XonChar, before.XonChar);
        EXPECT_EQ(dcb.XoffChar, before.XoffChar);
        EXPECT_EQ(dcb.ErrorChar, before.ErrorChar);
        EXPECT_EQ(dcb.EofChar, before.EofChar);
        EXPECT_EQ(dcb.EvtChar, before.EvtChar);
        EXPECT_TRUE(fwup::LineSettingsHold(dcb));
    }
}

TEST(DcbLineSettings, AnyDriftIsDetected) {
    const std::pair<const char*, std::function<void(DCB&)>> drifts[] = {
        {"speed", [](DCB& d) { d.BaudRate = CBR_57600; }},
        {"data bits", [](DCB& d) { d.ByteSize = 7; }},
        {"parity", [](DCB& d) { d.Parity = ODDPARITY; }},
        {"stop bits", [](DCB& d) { d.StopBits = TWOSTOPBITS; }},
        {"CTS flow control", [](DCB& d) { d.fOutxCtsFlow = 1; }},
        {"DSR flow control", [](DCB& d) { d.fOutxDsrFlow = 1; }},
        {"XON/XOFF out", [](DCB& d) { d.fOutX = 1; }},
        {"XON/XOFF in", [](DCB& d) { d.fInX = 1; }},
        {"DTR handshake", [](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; }},
        {"RTS handshake", [](DCB& d) { d.fRtsControl = RTS_CONTROL_HANDSHAKE; }},
    };
    for (const auto& [pszWhat, drift] : drifts) {
        DCB dcb = DriverDefaults(0);
        fwup::ApplyLineSettings(dcb);
        drift(dcb);
        EXPECT_FALSE(fwup::LineSettingsHold(dcb)) << pszWhat;
    }
}

} // namespace
