// Peak resident memory of fwupgrader-cli: `list` as the baseline, then `update`
// of a full 176128-byte image against a simulated device in this process. The
// child's peak comes from wait4() (ru_maxrss, KiB), so the simulator's memory is
// not counted. Figures only: nothing here passes or fails.

#include "bench/BenchRoot.h"
#include "serial/PortDiscovery.h"
#include "sim/CSimDevice.h"
#include "tests/support/CSimRig.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kImageSize = 176128;

void Print(const char* pszWhat, const fwbench::ChildRun& run) {
    std::printf("%-34s peak RSS %7ld KiB  exit %3d  %6.1f s  last line: %s\n", pszWhat,
                run.nMaxRssKiB, run.nExit, run.dSeconds, run.strLastLine.c_str());
}

} // namespace

int main() {
    const fwtest::CSimRig rig; // the private root (FWUP_SYSROOT), removed on the way out
    const std::string& strRoot = rig.Root();
    const std::vector<char> image = fwbench::BenchImage(kImageSize);
    const std::string strFile = fwbench::WriteBenchImage(strRoot, image);
    const std::string strOut = strRoot + "/cli-output.txt";

    int nResult = 0;
    {
        fwsim::SimDeviceConfig config;
        config.strRoot = strRoot;
        config.eStart =
            fwsim::Personality::Application; // the whole road, boot-loader switch included
        fwsim::CSimDevice device(config);
        if (!device.Start()) {
            std::fprintf(stderr, "simulated device did not start\n");
            return 1;
        }
        const std::string strName = rig.WaitPortName(2000);
        if (strName.empty()) {
            std::fprintf(stderr, "the simulated port is not listed\n");
            return 1;
        }

        std::printf("fwupgrader-cli: %s\n", FWUP_CLI_PATH);
        const fwbench::ChildRun list = fwbench::RunProgram(FWUP_CLI_PATH, {"list"}, strOut);
        Print("list (one port)", list);
        const fwbench::ChildRun update = fwbench::RunProgram(
            FWUP_CLI_PATH, {"update", "--port", strName, "--file", strFile}, strOut);
        Print("update, 176128-byte image", update);
        const bool bFlashed = device.FlashAt(fwsim::kCodeAddress, kImageSize) ==
                              std::vector<uint8_t>(image.begin(), image.end());
        std::printf("flash matches file                : %s\n", bFlashed ? "yes" : "NO");
        std::printf("update over list                  : %+7ld KiB\n",
                    update.nMaxRssKiB - list.nMaxRssKiB);
        nResult = list.nExit == 0 && update.nExit == 0 && bFlashed ? 0 : 2;
    }
    return nResult;
}
