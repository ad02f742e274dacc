#pragma once
// Configuration of the simulated device: personalities, texts, timing and faults.
// Block numbers count data packets from 1; 0 switches a block fault off.

#include <cstdint>
#include <string>

namespace fwsim {

enum class Personality { Application, BootLoader };

struct SimFaults {
    bool bNoVersionReply = false;     // "~rv" is not answered
    bool bWrongBootReply = false;     // "~dboot" answered with another line; the device stays
    bool bNoBootReply = false;        // "~dboot" not answered, but the device still restarts
    bool bBootLoaderSilent = false;   // the boot loader answers nothing at all
    bool bNeverReturns = false;       // after "~dboot" the port never comes back
    int nFailBlock = 0;               // block N is answered with dwFailStatus
    uint32_t dwFailStatus = 2;        // 2, 5 or 7
    int nFailTimes = 0;               // nFailBlock strikes this many downloads only; 0: every one
    bool bLongInfoPacket = false;     // the info packet is 20 bytes long
    bool bBadFinalReply = false;      // the finish is answered with status 9, echo 3
    int nSilentAtBlock = 0;           // from block N on the device answers nothing
    int nUnplugAtBlock = 0;           // the port vanishes instead of answering block N
    uint32_t dwStayAfterFinishMs = 0; // the port stays this long after the finish reply
    uint32_t nGarbageBytes = 0;       // noise where the host tolerates it (CSimDevice.h)
    uint32_t dwReplyDelayMs = 0;      // every reply is delayed this long
    int nStopReadingAfterBlock = 0;   // after answering block N the device reads nothing more
    bool bJunkFlood = false;          // the application answers all input with junk bytes
    // Rude but real: a reader that resets at once after "~Dboot" (the host may lose
    // the reply with the hang-up), and line noise the moment the port appears.
    bool bDropAtOnce = false;
    uint32_t nNoiseAtPlug = 0;      // printable bytes sent as the port is published
    bool bSilentHandshake = false;  // the start command gets no info, go or reply
    uint32_t dwHandshakeStatus = 0; // status of the handshake reply; 0: the usual 14
};

struct SimDeviceConfig {
    std::string strRoot; // fake system root shared by all devices
    std::string strUsbPath = "1-1";
    Personality eStart = Personality::Application;
    std::string strVersion = "2.0.0.1";
    std::string strFlashedVersion; // "~rv" after a completed download; empty: unchanged
    std::string strSerial = "SN00000001";
    std::string strReadyText = "TARNIC"; // after "~e!ready,"
    uint32_t dwBootStatus = 0x01020304;  // the boot loader's status value
    uint32_t dwMaxPacketWords = 64;      // L, in 32-bit words
    uint32_t dwAppRestartMs = 300;       // "~dboot" until the boot loader's port is listed
    uint32_t dwBootRestartMs = 300;      // finish until the application's port is listed
    uint32_t dwReadyDelayMs = 150;       // ready line this long after answering "~rS"
    bool bReturnAsApp = true;            // come back as the application after a download
    std::string strAppTty = "ttyACM0";
    std::string strBootTty = "ttyACM0";
    std::string strAppProduct = "AT91 USB to Serial Converter";
    std::string strBootProduct = "AT91 USB to Serial Converter";
    bool bPaced = false;     // 115200 baud pacing
    std::string strFlashOut; // flash image file written after each finished download
    SimFaults faults;
};

} // namespace fwsim
