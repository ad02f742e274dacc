// fwsim: the simulated reader(s) as a program, for the demo, manual tests and
// operators' training. See FwsimUsage() for the command line.
#include "sim/CSimDevice.h"
#include "sim/FwsimOptions.h"

#include "ProductVersion.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <pthread.h>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char* PersonalityName(fwsim::Personality e) {
    return e == fwsim::Personality::Application ? "application" : "boot loader";
}

struct DeviceSlot {
    fwsim::SimDeviceConfig config;
    std::unique_ptr<fwsim::CSimDevice> pDevice;
    Clock::time_point tpAppear;
    bool bLastPlugged = false;
    fwsim::Personality eLast = fwsim::Personality::Application;
    int nLastDownloads = 0;
};

} // namespace

int main(int argc, char** argv) {
    fwsim::FwsimOptions options;
    std::string strError;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!fwsim::ParseFwsimOptions(args, options, strError)) {
        std::fprintf(stderr, "fwsim: %s\nTry 'fwsim --help'.\n", strError.c_str());
        return 2;
    }
    if (options.bHelp) {
        std::fputs(fwsim::FwsimUsage().c_str(), stdout);
        return 0;
    }
    if (options.bShowVersion) {
        std::printf("fwsim (%s) %s\n", fwup::kProductDescription, fwup::kProductVersion);
        return 0;
    }
    std::error_code ec;
    std::filesystem::create_directories(options.device.strRoot, ec);
    if (!std::filesystem::is_directory(options.device.strRoot)) {
        std::fprintf(stderr, "fwsim: cannot create root directory %s\n",
                     options.device.strRoot.c_str());
        return 2;
    }

    // Signals are taken synchronously by the main thread only; the device
    // threads inherit the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const auto tpStart = Clock::now();
    std::vector<DeviceSlot> slots(static_cast<size_t>(options.nDevices));
    for (int k = 1; k <= options.nDevices; ++k) {
        DeviceSlot& slot = slots[static_cast<size_t>(k - 1)];
        slot.config = fwsim::DeviceConfigFor(options, k);
        slot.tpAppear = tpStart + std::chrono::milliseconds(uint64_t{options.dwPlugDelayMs} *
                                                            static_cast<uint64_t>(k - 1));
    }

    int nExit = 0;
    for (;;) {
        for (size_t i = 0; i < slots.size(); ++i) {
            DeviceSlot& slot = slots[i];
            const int k = static_cast<int>(i + 1);
            if (!slot.pDevice) {
                if (Clock::now() < slot.tpAppear) {
                    continue;
                }
                slot.pDevice = std::make_unique<fwsim::CSimDevice>(slot.config);
                if (!slot.pDevice->Start()) {
                    std::fprintf(stderr, "fwsim: device %d could not be published below %s\n", k,
                                 slot.config.strRoot.c_str());
                    nExit = 1;
                    break;
                }
                const bool bBoot = slot.config.eStart == fwsim::Personality::BootLoader;
                std::printf(
                    "device %d: %s usb %s \"%s\"\n", k, slot.pDevice->DevicePath().c_str(),
                    slot.config.strUsbPath.c_str(),
                    (bBoot ? slot.config.strBootProduct : slot.config.strAppProduct).c_str());
                std::fflush(stdout);
                slot.bLastPlugged = true;
                slot.eLast = slot.config.eStart;
                continue;
            }
            const bool bPlugged = slot.pDevice->IsPlugged();
            const fwsim::Personality e = slot.pDevice->CurrentPersonality();
            const int nDownloads = slot.pDevice->DownloadsFinished();
            if (nDownloads != slot.nLastDownloads) {
                slot.nLastDownloads = nDownloads;
                std::fprintf(stderr, "fwsim: device %d: download %d finished%s%s\n", k, nDownloads,
                             slot.config.strFlashOut.empty() ? "" : ", flash in ",
                             slot.config.strFlashOut.c_str());
            }
            if (bPlugged != slot.bLastPlugged || (bPlugged && e != slot.eLast)) {
                if (bPlugged) {
                    std::fprintf(stderr, "fwsim: device %d: %s at %s\n", k, PersonalityName(e),
                                 slot.pDevice->DevicePath().c_str());
                } else {
                    std::fprintf(stderr, "fwsim: device %d: off the bus\n", k);
                }
                slot.bLastPlugged = bPlugged;
                slot.eLast = e;
            }
        }
        if (nExit != 0) {
            break;
        }
        const timespec wait{0, 50'000'000};
        const int nSignal = sigtimedwait(&signals, nullptr, &wait);
        if (nSignal == SIGINT || nSignal == SIGTERM) {
            break;
        }
    }
    for (DeviceSlot& slot : slots) {
        if (slot.pDevice) {
            slot.pDevice->Stop();
        }
    }
    return nExit;
}
