#include "sim/FwsimOptions.h"

#include "sim/UsbSysfs.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <utility>

namespace fwsim {

namespace {

bool ParseNumber(const std::string& strText, uint64_t qwMax, uint64_t& qwValue) {
    if (strText.empty() || strText[0] == '-' || strText[0] == '+' ||
        std::isspace(static_cast<unsigned char>(strText[0]))) {
        return false;
    }
    errno = 0;
    char* pEnd = nullptr;
    const unsigned long long v = std::strtoull(strText.c_str(), &pEnd, 0); // 0x.. allowed
    if (errno != 0 || pEnd == strText.c_str() || *pEnd != '\0' || v > qwMax) {
        return false;
    }
    qwValue = v;
    return true;
}

// Texts that go on the line inside a reply: printable ASCII without '~'.
bool IsLineText(const std::string& strText) {
    for (unsigned char c : strText) {
        if (c < 0x20 || c > 0x7E || c == '~') {
            return false;
        }
    }
    return true;
}

// "\xHH" escapes to bytes; false for a malformed escape. Other text stays.
bool DecodeByteEscapes(const std::string& strText, std::string& strBytes) {
    strBytes.clear();
    for (size_t i = 0; i < strText.size(); ++i) {
        if (strText[i] != '\\') {
            strBytes.push_back(strText[i]);
            continue;
        }
        if (i + 3 >= strText.size() || strText[i + 1] != 'x' ||
            !std::isxdigit(static_cast<unsigned char>(strText[i + 2])) ||
            !std::isxdigit(static_cast<unsigned char>(strText[i + 3]))) {
            return false;
        }
        strBytes.push_back(static_cast<char>(std::stoi(strText.substr(i + 2, 2), nullptr, 16)));
        i += 3;
    }
    return true;
}

} // namespace

std::string RaiseTrailingNumber(const std::string& strBase, int nAdd) {
    size_t nDigits = strBase.size();
    while (nDigits > 0 && std::isdigit(static_cast<unsigned char>(strBase[nDigits - 1]))) {
        --nDigits;
    }
    if (nDigits == strBase.size() || strBase.size() - nDigits > 9) {
        return nAdd == 0 ? strBase : strBase + std::to_string(nAdd);
    }
    const long nNumber = std::stol(strBase.substr(nDigits));
    // Keeps leading zeros, so serial numbers stay as wide as the first one's.
    std::string strNumber = std::to_string(nNumber + nAdd);
    const size_t nWidth = strBase.size() - nDigits;
    if (strNumber.size() < nWidth) {
        strNumber.insert(0, nWidth - strNumber.size(), '0');
    }
    return strBase.substr(0, nDigits) + strNumber;
}

SimDeviceConfig DeviceConfigFor(const FwsimOptions& options, int nIndex) {
    SimDeviceConfig config = options.device;
    const int nAdd = nIndex - 1;
    config.strUsbPath = RaiseTrailingNumber(options.device.strUsbPath, nAdd);
    config.strAppTty = RaiseTrailingNumber(options.device.strAppTty, nAdd);
    config.strBootTty = RaiseTrailingNumber(options.device.strBootTty, nAdd);
    config.strSerial = RaiseTrailingNumber(options.device.strSerial, nAdd);
    if (options.nDevices > 1 && !config.strFlashOut.empty()) {
        const std::filesystem::path path(config.strFlashOut);
        config.strFlashOut =
            (path.parent_path() /
             (path.stem().string() + "-" + std::to_string(nIndex) + path.extension().string()))
                .string();
    }
    return config;
}

bool ParseFwsimOptions(const std::vector<std::string>& args, FwsimOptions& options,
                       std::string& strError) {
    SimDeviceConfig& d = options.device;
    SimFaults& f = d.faults;
    bool bRootGiven = false;
    if (args.size() == 1 && args[0] == "--version") {
        options.bShowVersion = true;
        return true;
    }

    auto number = [&](uint64_t qwMin, uint64_t qwMax, auto setter) {
        return [qwMin, qwMax, setter](const std::string& strValue, std::string& strWhy) {
            uint64_t v = 0;
            if (!ParseNumber(strValue, qwMax, v) || v < qwMin) {
                strWhy = "expects a number from " + std::to_string(qwMin) + " to " +
                         std::to_string(qwMax);
                return false;
            }
            return setter(v, strWhy);
        };
    };
    // Line texts are checked after all options are read: --raw-texts may come later.
    std::vector<std::pair<std::string, std::string*>> lineTexts;
    bool bRawTexts = false;
    auto text = [&](std::string& strTarget, bool bLineText) {
        return [&strTarget, bLineText, &lineTexts](const std::string& strValue, std::string&) {
            strTarget = strValue;
            if (bLineText) {
                lineTexts.emplace_back(strValue, &strTarget);
            }
            return true;
        };
    };
    auto name = [&](std::string& strTarget) {
        return [&strTarget](const std::string& strValue, std::string& strWhy) {
            if (!IsSafeName(strValue)) {
                strWhy = "expects a plain name (no '/')";
                return false;
            }
            strTarget = strValue;
            return true;
        };
    };
    auto ms = [&](uint32_t& dwTarget) {
        return number(0, 3'600'000, [&dwTarget](uint64_t v, std::string&) {
            dwTarget = static_cast<uint32_t>(v);
            return true;
        });
    };
    auto flag = [](bool& bTarget) { return [&bTarget] { bTarget = true; }; };

    using ValueHandler = std::function<bool(const std::string&, std::string&)>;
    const std::map<std::string, ValueHandler> valued = {
        {"--root",
         [&](const std::string& v, std::string& why) {
             if (v.empty()) {
                 why = "expects a directory";
                 return false;
             }
             d.strRoot = v;
             bRootGiven = true;
             return true;
         }},
        {"--start",
         [&](const std::string& v, std::string& why) {
             if (v == "app") {
                 d.eStart = Personality::Application;
             } else if (v == "boot") {
                 d.eStart = Personality::BootLoader;
             } else {
                 why = "expects app or boot";
                 return false;
             }
             return true;
         }},
        {"--version", text(d.strVersion, true)},
        {"--flashed-version", text(d.strFlashedVersion, true)},
        {"--serial", text(d.strSerial, true)},
        {"--ready-text", text(d.strReadyText, true)},
        {"--boot-status", number(0, 0xFFFFFFFFull,
                                 [&](uint64_t v, std::string&) {
                                     d.dwBootStatus = static_cast<uint32_t>(v);
                                     return true;
                                 })},
        {"--max-packet-words", number(6, 16384,
                                      [&](uint64_t v, std::string&) {
                                          d.dwMaxPacketWords = static_cast<uint32_t>(v);
                                          return true;
                                      })},
        {"--app-restart-ms", ms(d.dwAppRestartMs)},
        {"--boot-restart-ms", ms(d.dwBootRestartMs)},
        {"--ready-delay-ms", ms(d.dwReadyDelayMs)},
        {"--app-product", text(d.strAppProduct, true)},
        {"--boot-product", text(d.strBootProduct, true)},
        {"--app-tty", name(d.strAppTty)},
        {"--boot-tty", name(d.strBootTty)},
        {"--usb-path", name(d.strUsbPath)},
        {"--flash-out", text(d.strFlashOut, false)},
        {"--devices", number(1, 64,
                             [&](uint64_t v, std::string&) {
                                 options.nDevices = static_cast<int>(v);
                                 return true;
                             })},
        {"--plug-delay", ms(options.dwPlugDelayMs)},
        {"--fail-block", number(0, 0xFFFF,
                                [&](uint64_t v, std::string&) {
                                    f.nFailBlock = static_cast<int>(v);
                                    return true;
                                })},
        {"--fail-times", number(0, 0xFFFF,
                                [&](uint64_t v, std::string&) {
                                    f.nFailTimes = static_cast<int>(v);
                                    return true;
                                })},
        // Status 0 would be acceptance, no fault.
        {"--fail-status", number(1, 0xFFFFFFFFull,
                                 [&](uint64_t v, std::string&) {
                                     f.dwFailStatus = static_cast<uint32_t>(v);
                                     return true;
                                 })},
        {"--silent-at-block", number(0, 0xFFFF,
                                     [&](uint64_t v, std::string&) {
                                         f.nSilentAtBlock = static_cast<int>(v);
                                         return true;
                                     })},
        {"--unplug-at-block", number(0, 0xFFFF,
                                     [&](uint64_t v, std::string&) {
                                         f.nUnplugAtBlock = static_cast<int>(v);
                                         return true;
                                     })},
        {"--stay-after-finish", ms(f.dwStayAfterFinishMs)},
        {"--garbage", number(0, 4096,
                             [&](uint64_t v, std::string&) {
                                 f.nGarbageBytes = static_cast<uint32_t>(v);
                                 return true;
                             })},
        {"--reply-delay", ms(f.dwReplyDelayMs)},
        {"--stop-reading-after-block", number(0, 0xFFFF,
                                              [&](uint64_t v, std::string&) {
                                                  f.nStopReadingAfterBlock = static_cast<int>(v);
                                                  return true;
                                              })},
        {"--handshake-status", number(1, 0xFFFFFFFFull,
                                      [&](uint64_t v, std::string&) {
                                          f.dwHandshakeStatus = static_cast<uint32_t>(v);
                                          return true;
                                      })},
        {"--noise-at-plug", number(0, 4096,
                                   [&](uint64_t v, std::string&) {
                                       f.nNoiseAtPlug = static_cast<uint32_t>(v);
                                       return true;
                                   })},
    };
    const std::map<std::string, std::function<void()>> flags = {
        {"--help", [&] { options.bHelp = true; }},
        {"-h", [&] { options.bHelp = true; }},
        {"--paced", flag(d.bPaced)},
        {"--no-return", [&] { d.bReturnAsApp = false; }},
        {"--no-version-reply", flag(f.bNoVersionReply)},
        {"--wrong-boot-reply", flag(f.bWrongBootReply)},
        {"--no-boot-reply", flag(f.bNoBootReply)},
        {"--silent-boot-loader", flag(f.bBootLoaderSilent)},
        {"--never-return", flag(f.bNeverReturns)},
        {"--long-info", flag(f.bLongInfoPacket)},
        {"--bad-final", flag(f.bBadFinalReply)},
        {"--junk-flood", flag(f.bJunkFlood)},
        {"--raw-texts", flag(bRawTexts)},
        {"--drop-at-once", flag(f.bDropAtOnce)},
        {"--silent-handshake", flag(f.bSilentHandshake)},
    };

    for (size_t i = 0; i < args.size(); ++i) {
        std::string strOption = args[i];
        std::string strValue;
        bool bInlineValue = false;
        const size_t nEq = strOption.find('=');
        if (strOption.rfind("--", 0) == 0 && nEq != std::string::npos) {
            strValue = strOption.substr(nEq + 1);
            strOption.resize(nEq);
            bInlineValue = true;
        }
        if (auto it = flags.find(strOption); it != flags.end()) {
            if (bInlineValue) {
                strError = strOption + " takes no value";
                return false;
            }
            it->second();
            continue;
        }
        auto it = valued.find(strOption);
        if (it == valued.end()) {
            strError = "unknown option " + args[i];
            return false;
        }
        if (!bInlineValue) {
            if (i + 1 >= args.size()) {
                strError = strOption + " needs a value";
                return false;
            }
            strValue = args[++i];
        }
        std::string strWhy;
        if (!it->second(strValue, strWhy)) {
            strError = strOption + " " + strWhy + " (got \"" + strValue + "\")";
            return false;
        }
    }
    std::set<std::string*> done;
    for (auto it = lineTexts.rbegin(); it != lineTexts.rend(); ++it) {
        const auto& [strValue, pTarget] = *it;
        if (!done.insert(pTarget).second) {
            continue; // given again later: the last one counts
        }
        if (bRawTexts) {
            if (!DecodeByteEscapes(strValue, *pTarget)) {
                strError = "bad \\xHH escape in \"" + strValue + "\"";
                return false;
            }
        } else if (!IsLineText(strValue)) {
            strError = "texts expect printable text without '~' (got \"" + strValue + "\")";
            return false;
        }
    }
    if (options.bHelp) {
        return true;
    }
    if (!bRootGiven) {
        strError = "--root DIR is required";
        return false;
    }
    return true;
}

std::string FwsimUsage() {
    return R"(Usage: fwsim --root DIR [options]

Simulates the hand-held reader on a pseudo-terminal published as a USB serial
port below DIR (use DIR as FWUP_SYSROOT). Prints one line per device when it
appears:  device <k>: <DIR>/dev/<tty> usb <path> "<product>"
and runs until SIGINT or SIGTERM, then removes its entries and exits 0.
Events (unplugged, back as boot loader, downloads) go to stderr.

Device:
  --start app|boot          starting personality (app)
  --version TEXT            firmware version for "~rv" (2.0.0.1)
  --flashed-version TEXT    version "~rv" tells after a completed download
                            (unchanged)
  --serial TEXT             serial number for "~rS" (SN00000001)
  --ready-text TEXT         text after "~e!ready," (TARNIC)
  --boot-status N           boot loader's status value, hex with 0x (0x01020304)
  --max-packet-words L      boot loader's packet size in 32-bit words, 6..16384 (64)
  --app-restart-ms MS       "~dboot" until the boot loader is listed (300)
  --boot-restart-ms MS      finish until the application is listed (300)
  --ready-delay-ms MS       ready line this long after the "~rS" reply (150)
  --no-return               stay away after a download instead of coming back
  --app-product TEXT        USB product text of the application
  --boot-product TEXT       USB product text of the boot loader
                            (both "AT91 USB to Serial Converter")
  --app-tty NAME            tty name of the application (ttyACM0)
  --boot-tty NAME           tty name of the boot loader (ttyACM0)
  --usb-path PATH           USB device path (1-1)
  --paced                   115200 baud pacing: 11,520 bytes/s each way
  --flash-out FILE          write the 256 KiB flash image after each download
  --devices N               N devices, 1..64 (1), all on the bus at once unless
                            --plug-delay; device k uses the USB path, tty names,
                            serial number and flash file with their trailing
                            number raised by k-1 (1-1, 1-2, ...; ttyACM0, ttyACM1,
                            ...; SN00000001, SN00000002, ...),
                            and with N > 1 the flash file is FILE with "-k"
                            before its extension (out.bin -> out-1.bin, out-2.bin)
  --plug-delay MS           device k appears (k-1)*MS after start (0)

Faults:
  --no-version-reply        "~rv" is not answered
  --wrong-boot-reply        "~dboot" is answered "~Dnope"; the device stays
  --no-boot-reply           "~dboot" is not answered; the device still restarts
  --silent-boot-loader      the boot loader answers nothing
  --never-return            after "~dboot" the port never comes back
  --fail-block N            data packet N (from 1) is answered with --fail-status
  --fail-status S           status for --fail-block, not 0 (2)
  --fail-times N            --fail-block fails the first N downloads only, a flaky
                            contact (0: every download)
  --long-info               the info packet is 20 bytes long
  --bad-final               the finish is answered with status 9, echo 3
  --silent-at-block N       from data packet N on nothing is answered
  --unplug-at-block N       the port vanishes at data packet N and stays away
  --stay-after-finish MS    the port stays MS after the finish reply
  --garbage N               noise before replies: ceil(N/8) 8-byte junk packets
                            (code 0x0BAD) before the boot loader's status reply,
                            info and go packets; N printable bytes before the
                            application's ready line
  --reply-delay MS          every reply is delayed MS
  --stop-reading-after-block N
                            after answering data packet N the boot loader
                            reads nothing more (a hung endpoint)
  --junk-flood              the application answers every input with 1024
                            bytes of noise, never with a reply
  --raw-texts               --version, --serial, --ready-text and the product
                            texts take any bytes, written as \xHH escapes
                            (control characters, invalid UTF-8)
  --drop-at-once            the port goes at once after "~Dboot", without waiting
                            until the host has read it
  --silent-handshake        the start command gets no info, go or reply packet
  --handshake-status S      the handshake reply carries S instead of 14
  --noise-at-plug N         N printable noise bytes wait in the port each time it
                            appears, before the host sends anything

  --help                    this text
  --version                 (as the only argument) print fwsim's own version
Options take their value as the next argument or as --option=value.
Bad options exit with status 2.
)";
}

} // namespace fwsim
