// Port access on Linux: holders come from /proc/<pid>/fd the way fuser finds
// them, access facts from the node's inode and this process's credentials.
#include "serial/PortAccess.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace fwup {

namespace {

struct DirCloser {
    void operator()(DIR* pDir) const { ::closedir(pDir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

bool IsNumber(const char* psz) {
    if (*psz == '\0') {
        return false;
    }
    for (; *psz != '\0'; ++psz) {
        if (!std::isdigit(static_cast<unsigned char>(*psz))) {
            return false;
        }
    }
    return true;
}

// Pids of every process visible in /proc.
std::vector<int> ListPids() {
    std::vector<int> pids;
    DirPtr pDir(::opendir("/proc"));
    if (!pDir) {
        return pids;
    }
    while (const dirent* pEntry = ::readdir(pDir.get())) {
        if (IsNumber(pEntry->d_name)) {
            pids.push_back(std::atoi(pEntry->d_name));
        }
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

std::string ProcessCommand(int nPid) {
    std::ifstream file("/proc/" + std::to_string(nPid) + "/comm");
    std::string strCommand;
    std::getline(file, strCommand);
    return strCommand;
}

// Calls fn(path of /proc/<pid>/fd/<n>, n) for each open descriptor until it returns true.
template <typename Fn> bool AnyDescriptor(int nPid, Fn fn) {
    const std::string strFdDir = "/proc/" + std::to_string(nPid) + "/fd";
    DirPtr pDir(::opendir(strFdDir.c_str()));
    if (!pDir) {
        return false; // gone meanwhile, or another user's process
    }
    while (const dirent* pEntry = ::readdir(pDir.get())) {
        if (IsNumber(pEntry->d_name) && fn(strFdDir + "/" + pEntry->d_name, pEntry->d_name)) {
            return true;
        }
    }
    return false;
}

// stat follows a descriptor's link to the open file itself, whatever path it was
// opened by; it never opens anything, so a tty cannot block it.
bool IsCharDevice(const std::string& strPath, dev_t device) {
    struct stat st {};
    return ::stat(strPath.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device;
}

bool HoldsDevice(int nPid, dev_t device) {
    const std::string strFdDir = "/proc/" + std::to_string(nPid) + "/fd";
    DirPtr pDir(::opendir(strFdDir.c_str()));
    if (!pDir) {
        return false; // gone meanwhile, or another user's process
    }
    // Relative to the open directory: one name to resolve per descriptor, which
    // halves the cost of a scan over every descriptor of the system.
    const int nDirFd = ::dirfd(pDir.get());
    while (const dirent* pEntry = ::readdir(pDir.get())) {
        struct stat st {};
        if (IsNumber(pEntry->d_name) && ::fstatat(nDirFd, pEntry->d_name, &st, 0) == 0 &&
            S_ISCHR(st.st_mode) && st.st_rdev == device) {
            return true;
        }
    }
    return false;
}

std::string UserName(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* pResult = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &pResult) == 0 && pResult) {
        return pResult->pw_name;
    }
    return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
    std::vector<char> buffer(16384);
    group entry{};
    group* pResult = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &pResult) == 0 && pResult) {
        return pResult->gr_name;
    }
    return std::to_string(gid);
}

// The effective group first, then the supplementary ones, without repeats.
std::vector<gid_t> CurrentGroupIds() {
    std::vector<gid_t> ids{::getegid()};
    const int nCount = ::getgroups(0, nullptr);
    if (nCount > 0) {
        std::vector<gid_t> extra(static_cast<size_t>(nCount));
        const int nGot = ::getgroups(nCount, extra.data());
        extra.resize(nGot > 0 ? static_cast<size_t>(nGot) : 0);
        for (gid_t gid : extra) {
            if (std::find(ids.begin(), ids.end(), gid) == ids.end()) {
                ids.push_back(gid);
            }
        }
    }
    return ids;
}

std::string ModeText(unsigned nMode) {
    char szMode[8];
    std::snprintf(szMode, sizeof szMode, "%04o", nMode & 07777u);
    return szMode;
}

std::string TrimIndex(const std::string& strText) {
    const size_t nFirst = strText.find_first_not_of(" \t");
    const size_t nLast = strText.find_last_not_of(" \t\r\n");
    return nFirst == std::string::npos ? std::string() : strText.substr(nFirst, nLast - nFirst + 1);
}

// The character driver that owns a major number, from /proc/devices ("" when none).
std::string CharDriverName(unsigned nMajor) {
    std::ifstream devices("/proc/devices");
    bool bCharacter = false;
    for (std::string strLine; std::getline(devices, strLine);) {
        if (strLine.rfind("Character devices:", 0) == 0) {
            bCharacter = true;
        } else if (strLine.rfind("Block devices:", 0) == 0) {
            bCharacter = false;
        } else if (bCharacter) {
            unsigned nNumber = 0;
            char szName[64] = {};
            if (std::sscanf(strLine.c_str(), "%u %63s", &nNumber, szName) == 2 &&
                nNumber == nMajor) {
                return szName;
            }
        }
    }
    return {};
}

std::string KindOf(const struct stat& st) {
    if (S_ISREG(st.st_mode)) {
        return "regular file";
    }
    if (S_ISDIR(st.st_mode)) {
        return "directory";
    }
    if (S_ISFIFO(st.st_mode)) {
        return "FIFO";
    }
    if (S_ISSOCK(st.st_mode)) {
        return "socket";
    }
    if (S_ISBLK(st.st_mode)) {
        return "block device";
    }
    const std::string strDriver = CharDriverName(major(st.st_rdev));
    return "character device (" + (strDriver.empty() ? "unknown driver" : strDriver) + ")";
}

// Serial drivers name their majors tty* (ttyS, ttyACM, ttyUSB); pty slaves are pts.
bool IsSerialDriver(const std::string& strKind) {
    return strKind.rfind("character device (tty", 0) == 0 || strKind == "character device (pts)";
}

const char* const kUdevRuleFix = "install the fwupgrader udev rule and plug the reader in again";

} // namespace

std::vector<PortHolder> FindPortHolders(const std::string& strNode) {
    std::vector<PortHolder> holders;
    struct stat st {};
    if (::stat(strNode.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return holders;
    }
    for (int nPid : ListPids()) {
        if (HoldsDevice(nPid, st.st_rdev)) {
            holders.push_back({nPid, ProcessCommand(nPid)});
        }
    }
    return holders;
}

bool ServesPseudoTerminal(int nPid, const std::string& strNode) {
    // Unix98 pty slaves: majors 136..143, index = (major - 136) * 256 + minor.
    constexpr unsigned kFirstSlaveMajor = 136, kSlaveMajors = 8;
    struct stat st {};
    if (::stat(strNode.c_str(), &st) != 0 || !S_ISCHR(st.st_mode) ||
        major(st.st_rdev) < kFirstSlaveMajor ||
        major(st.st_rdev) >= kFirstSlaveMajor + kSlaveMajors) {
        return false;
    }
    const std::string strIndex =
        std::to_string((major(st.st_rdev) - kFirstSlaveMajor) * 256 + minor(st.st_rdev));
    const dev_t ptmx = makedev(5, 2);
    const std::string strFdInfo = "/proc/" + std::to_string(nPid) + "/fdinfo/";
    return AnyDescriptor(nPid, [&](const std::string& strFd, const char* pszFd) {
        if (!IsCharDevice(strFd, ptmx)) {
            return false;
        }
        // A master's fdinfo names its slave: "tty-index:\t<n>".
        std::ifstream info(strFdInfo + pszFd);
        for (std::string strLine; std::getline(info, strLine);) {
            if (strLine.rfind("tty-index:", 0) == 0) {
                return TrimIndex(strLine.substr(10)) == strIndex;
            }
        }
        return false;
    });
}

std::vector<PortHolder> FindCompetingHolders(const std::string& strNode) {
    std::vector<PortHolder> holders;
    for (PortHolder& holder : FindPortHolders(strNode)) {
        if (holder.nPid == ::getpid() || !ServesPseudoTerminal(holder.nPid, strNode)) {
            holders.push_back(std::move(holder));
        }
    }
    return holders;
}

std::vector<PortHolder> FindEarlierHolders(const std::string& strNode) {
    std::vector<PortHolder> holders;
    struct stat st {};
    if (::stat(strNode.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return holders;
    }
    // This process is skipped before its descriptors are looked at: on a bench it
    // holds every other reader's port, the bulk of the scan otherwise.
    const int nSelf = ::getpid();
    for (int nPid : ListPids()) {
        if (nPid != nSelf && HoldsDevice(nPid, st.st_rdev) &&
            !ServesPseudoTerminal(nPid, strNode)) {
            holders.push_back({nPid, ProcessCommand(nPid)});
        }
    }
    return holders;
}

NodeAccess InspectNodeAccess(const std::string& strNode) {
    NodeAccess access;
    struct stat st {};
    if (::stat(strNode.c_str(), &st) != 0) {
        return access;
    }
    access.bExists = true;
    access.strKind = KindOf(st);
    access.bSerialDevice = IsSerialDriver(access.strKind);
    access.strOwner = UserName(st.st_uid);
    access.strGroup = GroupName(st.st_gid);
    access.nMode = st.st_mode & 07777u;
    access.bMayReadWrite = ::access(strNode.c_str(), R_OK | W_OK) == 0;
    const std::vector<gid_t> groups = CurrentGroupIds();
    access.bUserInGroup = std::find(groups.begin(), groups.end(), st.st_gid) != groups.end();
    access.bHasAcl = ::getxattr(strNode.c_str(), "system.posix_acl_access", nullptr, 0) >= 0;
    return access;
}

std::vector<std::string> CurrentUserGroups() {
    std::vector<std::string> names;
    for (gid_t gid : CurrentGroupIds()) {
        names.push_back(GroupName(gid));
    }
    return names;
}

bool IsModemManagerRunning() {
    const std::vector<int> pids = ListPids();
    return std::any_of(pids.begin(), pids.end(),
                       [](int nPid) { return ProcessCommand(nPid) == "ModemManager"; });
}

std::string ExplainPermissionDenied(const std::string& strNode, const NodeAccess& access) {
    if (!access.bExists) {
        return ExplainVanished(strNode);
    }
    if (!access.bSerialDevice) {
        return ExplainNotSerial(strNode, access); // its group is no fix to hand out
    }
    std::string strText = "permission denied on " + strNode + " (owner " + access.strOwner +
                          ", group " + access.strGroup + ", mode " + ModeText(access.nMode) +
                          (access.bHasAcl ? ", with an access control list" : "") + "): ";
    const bool bGroupMayReadWrite = (access.nMode & 060u) == 060u;
    // Membership in root's group is no fix to hand out.
    const bool bGroupIsAFix =
        bGroupMayReadWrite && access.strGroup != "root" && access.strGroup != "0";
    if (bGroupIsAFix && !access.bUserInGroup) {
        strText += "add your user to the group " + access.strGroup + " (sudo usermod -aG " +
                   access.strGroup + " $USER) and log in again, or " + kUdevRuleFix;
    } else if (bGroupIsAFix) {
        strText += "your user is in the group " + access.strGroup + " and still may not open it; " +
                   kUdevRuleFix;
    } else {
        strText += "the group " + access.strGroup + " has no read-write access at this mode; " +
                   kUdevRuleFix + " (it sets group dialout, mode 0660 and access for the " +
                   "logged-in user)";
    }
    if (access.bHasAcl) {
        strText += "; `getfacl " + strNode + "` shows who else the list admits";
    }
    return strText;
}

std::string ExplainBusy(const std::string& strNode, const std::vector<PortHolder>& holders) {
    if (holders.empty()) {
        return "port " + strNode +
               " is busy: another program has it open, but no holder is visible to this user " +
               "(`sudo fuser -v " + strNode + "` names it); close that program or plug the " +
               "reader in again";
    }
    std::string strList;
    bool bModemManager = false;
    bool bThisProgram = false;
    for (const PortHolder& holder : holders) {
        if (!strList.empty()) {
            strList += ", ";
        }
        const std::string strCommand = holder.strCommand.empty() ? "?" : holder.strCommand;
        strList += "pid " + std::to_string(holder.nPid) + " (" + strCommand +
                   (holder.nPid == ::getpid() ? ", this program" : "") + ")";
        bModemManager = bModemManager || holder.strCommand == "ModemManager";
        bThisProgram = bThisProgram || holder.nPid == ::getpid();
    }
    std::string strText = "port " + strNode +
                          (bThisProgram ? " is already open: " : " is held by another program: ") +
                          strList;
    if (bModemManager) {
        strText += "; ModemManager probes new serial ports for a modem and lets go after a few "
                   "seconds: install the fwupgrader udev rule (it sets ID_MM_DEVICE_IGNORE) and "
                   "plug the reader in again, or run `sudo systemctl stop ModemManager`";
    } else {
        strText += holders.size() == 1 ? "; close it" : "; close them";
    }
    return strText;
}

std::string ExplainNotSerial(const std::string& strNode, const NodeAccess& access) {
    return "port " + strNode + " is a " + access.strKind +
           ", not a serial device: this is not a reader's port (a link or udev rule points it "
           "elsewhere); choose another port";
}

std::string ExplainVanished(const std::string& strNode) {
    return "port " + strNode +
           " has gone: the reader was unplugged or restarted; plug it in and choose the port again";
}

} // namespace fwup
