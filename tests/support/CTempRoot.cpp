#include "tests/support/CTempRoot.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace fwtest {

CTempRoot::CTempRoot(bool bSetEnv, const std::string& strName) : m_bSetEnv(bSetEnv) {
    const fs::path tmp = fs::temp_directory_path();
    if (!strName.empty() && ::mkdir((tmp / strName).c_str(), 0700) == 0) {
        m_strPath = (tmp / strName).string();
    } else {
        std::string strTemplate = (tmp / "fwup-root-XXXXXX").string();
        if (::mkdtemp(strTemplate.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        m_strPath = strTemplate;
    }
    if (!m_bSetEnv) {
        return;
    }
    if (const char* psz = std::getenv("FWUP_SYSROOT")) {
        m_bHadPrevious = true;
        m_strPrevious = psz;
    }
    ::setenv("FWUP_SYSROOT", m_strPath.c_str(), 1);
}

CTempRoot::~CTempRoot() {
    if (m_bSetEnv && m_bHadPrevious) {
        ::setenv("FWUP_SYSROOT", m_strPrevious.c_str(), 1);
    } else if (m_bSetEnv) {
        ::unsetenv("FWUP_SYSROOT");
    }
    std::error_code ec;
    fs::remove_all(m_strPath, ec);
}

std::string CTempRoot::WriteFile(const std::string& strName, size_t nSize, unsigned nSeed) const {
    const std::string strPath = m_strPath + "/" + strName;
    std::string data(nSize, '\0');
    unsigned nState = nSeed * 2654435761u + 1;
    for (char& c : data) {
        nState = nState * 1103515245u + 12345u;
        c = static_cast<char>(nState >> 16);
    }
    std::ofstream file(strPath, std::ios::binary | std::ios::trunc);
    file.write(data.data(), static_cast<std::streamsize>(data.size()));
    return strPath;
}

namespace {

void WriteText(const fs::path& path, const std::string& strText) {
    std::ofstream(path) << strText << "\n";
}

} // namespace

void AddFakeTty(const std::string& strRoot, const std::string& strTty, bool bUsb,
                const std::string& strUsbPath, const std::string& strProduct) {
    const fs::path root(strRoot);
    fs::path rel;
    if (bUsb) {
        const fs::path usb = fs::path("devices/pci0000:00/0000:00:14.0/usb1") / strUsbPath;
        fs::create_directories(root / "sys" / usb);
        WriteText(root / "sys" / usb / "idVendor", "03eb");
        if (!strProduct.empty()) {
            WriteText(root / "sys" / usb / "product", strProduct);
        }
        rel = usb / (strUsbPath + ":1.0");
    } else {
        rel = fs::path("devices/platform/serial8250");
    }
    const fs::path ttyDir = root / "sys" / rel / "tty" / strTty;
    fs::create_directories(ttyDir);
    fs::create_directories(root / "sys/class/tty");
    fs::create_directories(root / "dev");
    std::error_code ec;
    fs::remove(ttyDir / "device", ec);
    fs::create_directory_symlink("../..", ttyDir / "device");
    fs::create_directory_symlink(fs::path("../..") / rel / "tty" / strTty,
                                 root / "sys/class/tty" / strTty);
}

void RemoveFakeTty(const std::string& strRoot, const std::string& strTty) {
    fs::remove(fs::path(strRoot) / "sys/class/tty" / strTty);
}

std::vector<std::string> FileLines(const std::string& strPath) {
    std::ifstream file(strPath);
    std::vector<std::string> lines;
    for (std::string strLine; std::getline(file, strLine);) {
        lines.push_back(strLine);
    }
    return lines;
}

} // namespace fwtest
