// Eight simulated readers paced at 115200 baud, plugged at once, each flashed
// with a full 176128-byte image by `fwupgrader-cli auto --parallel`. Prints the
// whole run's wall time against one reader's (from the unit records), the CLI
// process's CPU time over wall, and its peak RSS. Figures only.

#include "bench/BenchRoot.h"
#include "bench/SimReaders.h"
#include "sim/CSimDevice.h"
#include "tests/support/CSimRig.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr size_t kImageSize = 176128;
constexpr int kReaders = 8;

} // namespace

int main() {
    const fwtest::CSimRig rig; // the private root (FWUP_SYSROOT), removed on the way out
    const std::string& strRoot = rig.Root();
    const std::vector<char> image = fwbench::BenchImage(kImageSize);
    const std::string strFile = fwbench::WriteBenchImage(strRoot, image);
    const std::string strRecords = strRoot + "/records.jsonl";
    int nResult = 0;
    {
        std::vector<std::unique_ptr<fwsim::CSimDevice>> devices;
        if (!fwbench::StartPacedReaders(strRoot, kReaders, "SN0000010", 0, devices)) {
            return 1;
        }
        const fwbench::ChildRun run =
            fwbench::RunProgram(FWUP_CLI_PATH,
                                {"auto", "--parallel", "--count", std::to_string(kReaders),
                                 "--file", strFile, "--record", strRecords},
                                strRoot + "/cli-output.txt");
        std::vector<double> seconds = fwbench::RecordSeconds(strRecords);
        std::sort(seconds.begin(), seconds.end());
        int nFlashed = 0;
        for (const auto& pDevice : devices) {
            nFlashed += pDevice->FlashAt(fwsim::kCodeAddress, kImageSize) ==
                                std::vector<uint8_t>(image.begin(), image.end())
                            ? 1
                            : 0;
        }
        if (seconds.empty()) {
            std::fprintf(stderr, "no unit records (exit %d): %s\n", run.nExit,
                         run.strLastLine.c_str());
            return 2;
        }
        const double dOne = seconds[seconds.size() / 2];
        std::printf(
            "readers                   : %d plugged at once, %d records, %d flashes match\n",
            kReaders, static_cast<int>(seconds.size()), nFlashed);
        std::printf("one reader's job          : %8.3f s median (%.3f .. %.3f)\n", dOne,
                    seconds.front(), seconds.back());
        std::printf("whole run, wall           : %8.3f s = %5.3f x one reader (target <= 1.15)\n",
                    run.dSeconds, run.dSeconds / dOne);
        std::printf("cli cpu / wall            : %8.3f s = %5.2f %% = %4.2f %% per reader "
                    "(target <= 2 %% per reader)\n",
                    run.dCpuSeconds, 100.0 * run.dCpuSeconds / run.dSeconds,
                    100.0 * run.dCpuSeconds / run.dSeconds / kReaders);
        std::printf("cli peak RSS              : %8ld KiB\n", run.nMaxRssKiB);
        std::printf("exit code                 : %d\n", run.nExit);
        nResult = run.nExit == 0 && nFlashed == kReaders ? 0 : 2;
    }
    return nResult;
}
