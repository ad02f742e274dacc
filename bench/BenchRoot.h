#pragma once
// Shared set-up of the benchmark programs: a full-size firmware image in the
// private system root that fwtest::CSimRig makes (set as FWUP_SYSROOT, so children
// inherit it), and child programs run with their resource usage.

#include "serial/PortDiscovery.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
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

namespace fwbench {

// nSize bytes of a fixed pseudo-random pattern.
inline std::vector<char> BenchImage(size_t nSize) {
    std::vector<char> image(nSize);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    return image;
}

// Writes the image as <root>/bench.bin and returns the path.
inline std::string WriteBenchImage(const std::string& strRoot, const std::vector<char>& image) {
    const std::string strFile = strRoot + "/bench.bin";
    std::ofstream(strFile, std::ios::binary)
        .write(image.data(), static_cast<std::streamsize>(image.size()));
    return strFile;
}

struct ChildRun {
    int nExit = -1;
    long nMaxRssKiB = 0;
    double dSeconds = 0;
    double dCpuSeconds = 0; // user + system time of the child
    std::string strLastLine;
};

// Runs strProgram with args, its output into strOutFile; reaps it with wait4 so its
// own resource usage (peak RSS) comes back.
inline ChildRun RunProgram(const std::string& strProgram, const std::vector<std::string>& args,
                           const std::string& strOutFile) {
    std::vector<std::string> argv{strProgram};
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
    run.dCpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::ifstream file(strOutFile);
    for (std::string strLine; std::getline(file, strLine);) {
        if (!strLine.empty()) {
            run.strLastLine = strLine;
        }
    }
    return run;
}

} // namespace fwbench
