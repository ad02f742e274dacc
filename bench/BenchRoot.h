#pragma once
// Shared set-up of the benchmark programs: a private system root (set as
// FWUP_SYSROOT, so children inherit it) and a full-size firmware image in it.

#include "serial/PortDiscovery.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fwbench {

// Creates the root; empty on failure (reported on stderr).
inline std::string MakeBenchRoot(const char* pszPrefix) {
    std::string strTemplate =
        (std::filesystem::temp_directory_path() / (std::string(pszPrefix) + "-XXXXXX")).string();
    if (mkdtemp(strTemplate.data()) == nullptr) {
        std::perror("mkdtemp");
        return {};
    }
    setenv("FWUP_SYSROOT", strTemplate.c_str(), 1);
    return strTemplate;
}

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

// The first listed port, waiting up to 2 s for it to appear; empty when none does.
inline std::string WaitFirstPort() {
    for (int i = 0; i < 100; ++i) {
        const std::vector<std::string> names = fwup::EnumeratePorts();
        if (!names.empty()) {
            return names.front();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return {};
}

} // namespace fwbench
