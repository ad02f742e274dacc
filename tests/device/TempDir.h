#pragma once
// A temporary directory for one test, removed with everything in it afterwards.

#include <filesystem>
#include <string>

namespace fwtest {

class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_strPath; }
    // Writes nSize bytes of a fixed pattern (seeded by nSeed) to name; returns the path.
    std::string WriteFile(const std::string& strName, size_t nSize, unsigned nSeed = 1) const;

private:
    std::string m_strPath;
};

} // namespace fwtest
