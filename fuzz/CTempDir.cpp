#include "fuzz/CTempDir.h"

#include "fuzz/FuzzCheck.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fwup::fuzz {

CTempDir::CTempDir(const char* pszPrefix) {
    // Scratch trees are rebuilt for every input: memory-backed /dev/shm keeps that
    // cheap (a disk-backed /tmp cuts the sysfs target's speed to a third).
    const char* pszTmp = std::getenv("TMPDIR");
    std::error_code ec;
    std::string strTemplate =
        (pszTmp != nullptr && *pszTmp != '\0') ? pszTmp
        : std::filesystem::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0
            ? "/dev/shm"
            : "/tmp";
    strTemplate += std::string("/") + pszPrefix + "XXXXXX";
    std::vector<char> name(strTemplate.begin(), strTemplate.end());
    name.push_back('\0');
    FUZZ_CHECK(::mkdtemp(name.data()) != nullptr, "cannot make a temporary directory");
    m_strPath = name.data();
}

CTempDir::~CTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_strPath, ec);
}

} // namespace fwup::fuzz
