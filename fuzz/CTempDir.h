#pragma once
// CTempDir: a fresh directory below $TMPDIR (else /dev/shm, else /tmp), removed with its content
// when the object goes. Aborts when none can be made: a fuzz target without its
// scratch space has nothing to test.

#include <string>

namespace fwup::fuzz {

class CTempDir {
public:
    explicit CTempDir(const char* pszPrefix);
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
};

} // namespace fwup::fuzz
