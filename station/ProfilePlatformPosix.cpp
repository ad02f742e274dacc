// Where the station profile lives on Linux, and who may change it.
#include "station/StationProfile.h"

#include <sys/stat.h>

#include <cstdlib>

namespace fwup {

std::string DefaultProfilePath() {
    const char* pszRoot = std::getenv("FWUP_SYSROOT");
    std::string strRoot = pszRoot != nullptr && *pszRoot != '\0' ? pszRoot : "/";
    if (strRoot.back() != '/') {
        strRoot += '/';
    }
    return strRoot + "etc/fwupgrader/station.toml";
}

bool ProfileWritableByUser(const std::string& strPath, std::string& strCause) {
    struct stat facts {};
    if (::stat(strPath.c_str(), &facts) != 0) {
        strCause = "it cannot be examined; make it a file owned by root";
        return true;
    }
    if (facts.st_uid != 0) {
        strCause = "it is owned by user id " + std::to_string(facts.st_uid) +
                   ", not root; as root: chown root:root " + strPath + " && chmod 644 " + strPath;
        return true;
    }
    if ((facts.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        strCause = "its group or other users may write it; as root: chmod go-w " + strPath;
        return true;
    }
    return false;
}

} // namespace fwup
