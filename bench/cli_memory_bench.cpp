// Peak resident memory of fwupgrader-cli: `list` as the baseline, then `update`
// of a full 176128-byte image against a simulated device in this process. The
// child's peak comes from wait4() (ru_maxrss, KiB), so the simulator's memory is
// not counted. Figures only: nothing here passes or fails.

#include "bench/BenchRoot.h"
#include "serial/PortDiscovery.h"
#include "sim/CSimDevice.h"

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

extern char** environ;

namespace {

constexpr size_t kImageSize = 176128;

struct ChildRun {
    int nExit = -1;
    long nMaxRssKiB = 0;
    double dSeconds = 0;
    std::string strLastLine;
};

// Runs the CLI with args, its output into strOutFile; reaps it with wait4 so its
// own resource usage (peak RSS) comes back.
ChildRun RunCli(const std::vector<std::string>& args, const std::string& strOutFile) {
    std::vector<std::string> argv{FWUP_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pArgs;
    for (std::string& s : argv) {
        pArgs.push_back(s.data());
    }
    pArgs.push_back(nullptr);
    ChildRun run;
    const int fdOut = ::open(strOutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fdOut < 0) {
        std::perror("open");
        return run;
    }
    const auto tpStart = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec: the simulator's thread
        // may hold locks in the parent.
        ::dup2(fdOut, STDOUT_FILENO);
        ::dup2(fdOut, STDERR_FILENO);
        ::execve(pArgs[0], pArgs.data(), environ);
        ::_exit(127);
    }
    ::close(fdOut);
    if (pid < 0) {
        std::perror("fork");
        return run;
    }
    int nStatus = 0;
    rusage usage{};
    if (::wait4(pid, &nStatus, 0, &usage) != pid) {
        std::perror("wait4");
        return run;
    }
    run.dSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - tpStart).count();
    run.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
    run.nMaxRssKiB = usage.ru_maxrss;
    std::ifstream file(strOutFile);
    for (std::string strLine; std::getline(file, strLine);) {
        if (!strLine.empty()) {
            run.strLastLine = strLine;
        }
    }
    return run;
}

void Print(const char* pszWhat, const ChildRun& run) {
    std::printf("%-34s peak RSS %7ld KiB  exit %3d  %6.1f s  last line: %s\n", pszWhat,
                run.nMaxRssKiB, run.nExit, run.dSeconds, run.strLastLine.c_str());
}

} // namespace

int main() {
    const std::string strRoot = fwbench::MakeBenchRoot("fwup-membench");
    if (strRoot.empty()) {
        return 1;
    }
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
        const std::string strName = fwbench::WaitFirstPort();
        if (strName.empty()) {
            std::fprintf(stderr, "the simulated port is not listed\n");
            return 1;
        }

        std::printf("fwupgrader-cli: %s\n", FWUP_CLI_PATH);
        const ChildRun list = RunCli({"list"}, strOut);
        Print("list (one port)", list);
        const ChildRun update = RunCli({"update", "--port", strName, "--file", strFile}, strOut);
        Print("update, 176128-byte image", update);
        const bool bFlashed = device.FlashAt(fwsim::kCodeAddress, kImageSize) ==
                              std::vector<uint8_t>(image.begin(), image.end());
        std::printf("flash matches file                : %s\n", bFlashed ? "yes" : "NO");
        std::printf("update over list                  : %+7ld KiB\n",
                    update.nMaxRssKiB - list.nMaxRssKiB);
        nResult = list.nExit == 0 && update.nExit == 0 && bFlashed ? 0 : 2;
    }
    std::error_code error;
    std::filesystem::remove_all(strRoot, error);
    return nResult;
}
