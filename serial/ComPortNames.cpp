#include "serial/ComPortNames.h"

#include <cctype>

namespace fwup {

namespace {

constexpr int kLargestPort = 99999;

bool HasComPrefix(const std::string& strName, size_t nAt) {
    return strName.size() >= nAt + 3 &&
           std::toupper(static_cast<unsigned char>(strName[nAt])) == 'C' &&
           std::toupper(static_cast<unsigned char>(strName[nAt + 1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(strName[nAt + 2])) == 'M';
}

} // namespace

int ComNumberFromPortName(const std::string& strName) {
    if (!HasComPrefix(strName, 0) || strName.size() == 3 || strName.size() > 8) {
        return 0;
    }
    int nPort = 0;
    for (size_t i = 3; i < strName.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(strName[i]);
        if (!std::isdigit(c)) {
            return 0;
        }
        nPort = nPort * 10 + (c - '0');
    }
    return nPort <= kLargestPort ? nPort : 0;
}

FriendlyNameParts SplitFriendlyName(const std::string& strName) {
    FriendlyNameParts parts;
    std::string strDescription = strName;
    const size_t nOpen = strName.rfind('(');
    if (nOpen != std::string::npos && !strName.empty() && strName.back() == ')') {
        const int nPort =
            ComNumberFromPortName(strName.substr(nOpen + 1, strName.size() - nOpen - 2));
        if (nPort != 0) {
            parts.nPort = nPort;
            strDescription.erase(nOpen);
        }
    }
    while (!strDescription.empty() &&
           (strDescription.back() == ' ' || strDescription.back() == '\t')) {
        strDescription.pop_back();
    }
    parts.strDescription = strDescription;
    return parts;
}

} // namespace fwup
