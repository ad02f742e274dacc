#pragma once
// A temporary directory that serves as FWUP_SYSROOT for one test; removed again
// (and the variable restored) on destruction.

#include <cstddef>
#include <string>
#include <vector>

namespace fwtest {

class CTempRoot {
public:
    // bSetEnv false leaves FWUP_SYSROOT alone (for roots handed to child processes).
    // strName names the directory below the temporary folder, so that its path is
    // the same on every run (fuzzing with a fixed seed must not see a random name);
    // when that name is taken, a unique one is made as without it. Throws
    // std::runtime_error when no directory can be made.
    explicit CTempRoot(bool bSetEnv = true, const std::string& strName = {});
    ~CTempRoot();
    CTempRoot(const CTempRoot&) = delete;
    CTempRoot& operator=(const CTempRoot&) = delete;

    const std::string& Path() const { return m_strPath; }
    // Writes nSize pseudo-random bytes (seeded by nSeed) to strName below the
    // root; returns the file's path.
    std::string WriteFile(const std::string& strName, size_t nSize, unsigned nSeed = 1) const;

private:
    std::string m_strPath;
    std::string m_strPrevious;
    bool m_bHadPrevious = false;
    bool m_bSetEnv = true;
};

// Writes a static sysfs entry for a tty (no pty behind it): with bUsb, a USB
// device at strUsbPath with the product text (none when empty); without, a
// platform serial port that has no USB ancestor.
void AddFakeTty(const std::string& strRoot, const std::string& strTty, bool bUsb,
                const std::string& strUsbPath = "1-1", const std::string& strProduct = "");

// The lines of a text file, without their line ends; none when it does not open.
std::vector<std::string> FileLines(const std::string& strPath);

// Removes the tty's class entry (the device directory stays, as after a driver unbind).
void RemoveFakeTty(const std::string& strRoot, const std::string& strTty);

} // namespace fwtest
