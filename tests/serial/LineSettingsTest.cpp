// The line settings check that makes a port whose settings do not stick fail to open.
#include "serial/TermiosLineSettings.h"

#include <gtest/gtest.h>

#include <functional>
#include <termios.h>

namespace {

termios CookedTerminal() {
    termios tio{};
    tio.c_iflag = ICRNL | IXON | BRKINT;
    tio.c_oflag = OPOST | ONLCR;
    tio.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    tio.c_cflag = CS7 | PARENB | CREAD;
    tio.c_cc[VMIN] = 1;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    return tio;
}

TEST(LineSettings, ApplyingThemMakesACookedTerminalRaw) {
    termios tio = CookedTerminal();
    EXPECT_FALSE(fwup::LineSettingsHold(tio));
    fwup::ApplyLineSettings(tio);
    EXPECT_TRUE(fwup::LineSettingsHold(tio));
}

TEST(LineSettings, AnyDriftIsDetected) {
    const std::pair<const char*, std::function<void(termios&)>> drifts[] = {
        {"speed", [](termios& t) { cfsetispeed(&t, B57600); }},
        {"data bits", [](termios& t) { t.c_cflag = (t.c_cflag & ~CSIZE) | CS7; }},
        {"parity", [](termios& t) { t.c_cflag |= PARENB; }},
        {"two stop bits", [](termios& t) { t.c_cflag |= CSTOPB; }},
        {"hardware flow control", [](termios& t) { t.c_cflag |= CRTSCTS; }},
        {"software flow control", [](termios& t) { t.c_iflag |= IXON; }},
        {"canonical mode", [](termios& t) { t.c_lflag |= ICANON; }},
        {"echo", [](termios& t) { t.c_lflag |= ECHO; }},
        {"output processing", [](termios& t) { t.c_oflag |= OPOST; }},
        {"blocking reads", [](termios& t) { t.c_cc[VMIN] = 1; }},
        {"receiver off", [](termios& t) { t.c_cflag &= ~CREAD; }},
    };
    for (const auto& [pszWhat, drift] : drifts) {
        termios tio = CookedTerminal();
        fwup::ApplyLineSettings(tio);
        drift(tio);
        EXPECT_FALSE(fwup::LineSettingsHold(tio)) << pszWhat;
    }
}

} // namespace
