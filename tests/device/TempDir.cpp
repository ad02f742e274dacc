#include "TempDir.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace fwtest {

CTempDir::CTempDir() {
    std::string strTemplate =
        (std::filesystem::temp_directory_path() / "fwup-device-XXXXXX").string();
    std::vector<char> buffer(strTemplate.begin(), strTemplate.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_strPath = buffer.data();
}

CTempDir::~CTempDir() {
    std::error_code error;
    std::filesystem::remove_all(m_strPath, error);
}

std::string CTempDir::WriteFile(const std::string& strName, size_t nSize, unsigned nSeed) const {
    const std::string strPath = m_strPath + "/" + strName;
    std::vector<char> data(nSize);
    unsigned nState = nSeed * 2654435761u + 1;
    for (char& c : data) {
        nState = nState * 1103515245u + 12345u;
        c = static_cast<char>(nState >> 16);
    }
    std::ofstream file(strPath, std::ios::binary | std::ios::trunc);
    file.write(data.data(), static_cast<std::streamsize>(data.size()));
    return strPath;
}

} // namespace fwtest
