// fwupgrader-cli doctor: everything that stands between the user who runs it and a
// reader, one finding per line with its fix. Reads ports, the udev rule and the
// udev database below $FWUP_SYSROOT; processes come from the live /proc.
#include "cli/CConsoleReporter.h"
#include "cli/CliCommands.h"
#include "cli/DoctorJudge.h"
#include "serial/Utf8Text.h"

#include "serial/PortAccess.h"
#include "serial/PortDiscovery.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fwup::cli {

namespace {

const char* const kDoctorHelp =
    "usage: fwupgrader-cli doctor [--json]\n"
    "\n"
    "Checks, for the user who runs it, what stands between them and a reader: each\n"
    "USB serial port and whether this user may open it (owner, group, mode, ACL),\n"
    "which program holds a busy port, the user's groups, whether the fwupgrader\n"
    "udev rule is installed, and whether ModemManager runs and would probe the\n"
    "reader. Each finding is one line with its fix.\n"
    "\n"
    "  --json   the same as one JSON object\n"
    "\n"
    "exit codes:\n"
    "   0  nothing blocks a reader\n"
    "   1  something blocks a reader (lines marked 'block')\n"
    "   2  bad command line\n";

// In udev's order of precedence: a file of the same name in an earlier directory wins,
// and one that is not a regular file (a link to /dev/null) switches the rule off.
const char* const kRuleDirs[] = {"etc/udev/rules.d", "usr/lib/udev/rules.d", "lib/udev/rules.d"};

// Groups the user database gives the user that this process lacks: joined after login.
std::vector<std::string> GroupsJoinedLater(const std::vector<std::string>& session) {
    std::vector<std::string> late;
    const passwd* pUser = ::getpwuid(::getuid());
    if (pUser == nullptr) {
        return late;
    }
    int nCount = 64;
    std::vector<gid_t> ids(static_cast<size_t>(nCount));
    if (::getgrouplist(pUser->pw_name, pUser->pw_gid, ids.data(), &nCount) < 0) {
        ids.resize(static_cast<size_t>(nCount));
        if (::getgrouplist(pUser->pw_name, pUser->pw_gid, ids.data(), &nCount) < 0) {
            return late;
        }
    }
    ids.resize(static_cast<size_t>(nCount));
    for (gid_t gid : ids) {
        const group* pGroup = ::getgrgid(gid);
        const std::string strName = pGroup ? pGroup->gr_name : std::to_string(gid);
        if (std::find(session.begin(), session.end(), strName) == session.end()) {
            late.push_back(strName);
        }
    }
    return late;
}

// What udev recorded for the node's device: ID_MM_DEVICE_IGNORE set or not.
// Reads a small regular file in one open that never blocks (a FIFO planted in its
// place would hang doctor), checked on the descriptor; false when it is no such file.
bool ReadRegularFile(const std::filesystem::path& path, std::string& strText) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    const bool bRegular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    strText.clear();
    char szBuffer[4096];
    // The udev database entry is small; the cap keeps a huge planted file cheap.
    while (bRegular && strText.size() < 1024 * 1024) {
        const ssize_t n = ::read(fd, szBuffer, sizeof szBuffer);
        if (n <= 0) {
            break;
        }
        strText.append(szBuffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return bRegular;
}

PortFacts::MmFlag ModemManagerFlag(const std::string& strRoot, const std::string& strNode) {
    struct stat st {};
    if (::stat(strNode.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return PortFacts::MmFlag::Unknown;
    }
    // Appended piece by piece: gcc 12 at -O3 misreads a chain starting with a
    // literal as an overlapping copy (-Wrestrict).
    std::string strName = "c";
    strName += std::to_string(major(st.st_rdev));
    strName += ':';
    strName += std::to_string(minor(st.st_rdev));
    const std::filesystem::path dbPath = std::filesystem::path(strRoot) / "run/udev/data" / strName;
    std::string strDb;
    if (!ReadRegularFile(dbPath, strDb)) {
        return PortFacts::MmFlag::Unknown;
    }
    std::istringstream db(strDb);
    for (std::string strLine; std::getline(db, strLine);) {
        if (strLine == "E:ID_MM_DEVICE_IGNORE=1") {
            return PortFacts::MmFlag::Ignored;
        }
    }
    return PortFacts::MmFlag::Probed;
}

Facts GatherFacts() {
    Facts facts;
    facts.nUid = ::getuid();
    const passwd* pUser = ::getpwuid(facts.nUid);
    facts.strUser = pUser ? pUser->pw_name : std::to_string(facts.nUid);
    facts.groups = CurrentUserGroups();
    facts.lateGroups = GroupsJoinedLater(facts.groups);

    const std::string strRoot = SysRoot();
    for (const PortRecord& entry : ScanPorts()) {
        PortFacts port;
        port.entry = entry;
        port.bReader = entry.strDescription == kReaderProduct;
        port.access = InspectNodeAccess(entry.strDeviceNode);
        // A node that is not a tty device is nobody's reader, whatever its product text.
        port.bReader = port.bReader && port.access.bSerialDevice;
        for (const PortHolder& holder : FindPortHolders(entry.strDeviceNode)) {
            if (holder.nPid != ::getpid() &&
                !ServesPseudoTerminal(holder.nPid, entry.strDeviceNode)) {
                port.holders.push_back(holder);
            }
        }
        port.eMm = ModemManagerFlag(strRoot, entry.strDeviceNode);
        facts.ports.push_back(std::move(port));
    }
    for (const char* pszDir : kRuleDirs) {
        const std::filesystem::path path = std::filesystem::path(strRoot) / pszDir / kRuleName;
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
            continue;
        }
        (std::filesystem::is_regular_file(path, ec) ? facts.strRule : facts.strMasked) =
            path.lexically_normal().string();
        break;
    }
    facts.bModemManager = IsModemManagerRunning();
    return facts;
}

std::string JsonString(const std::string& strText) {
    std::string strJson = "\"";
    strJson += JsonEscape(strText);
    strJson += '"';
    return strJson;
}

std::string JsonList(const std::vector<std::string>& items) {
    std::string strJson;
    for (const std::string& strItem : items) {
        if (!strJson.empty()) {
            strJson += ',';
        }
        strJson += JsonString(strItem);
    }
    return "[" + strJson + "]";
}

const char* JsonBool(bool b) {
    return b ? "true" : "false";
}

void PrintJson(const Facts& facts, const std::vector<Finding>& findings, bool bBlocked) {
    std::string strPorts;
    for (const PortFacts& port : facts.ports) {
        const NodeAccess& a = port.access;
        std::string strHolders;
        for (const PortHolder& holder : port.holders) {
            strHolders += std::string(strHolders.empty() ? "" : ",") +
                          "{\"pid\":" + std::to_string(holder.nPid) +
                          ",\"command\":" + JsonString(holder.strCommand) + "}";
        }
        const char* pszMm = port.eMm == PortFacts::MmFlag::Ignored  ? "\"ignored\""
                            : port.eMm == PortFacts::MmFlag::Probed ? "\"probed\""
                                                                    : "null";
        strPorts +=
            std::string(strPorts.empty() ? "" : ",") +
            "{\"name\":" + JsonString(port.entry.strName) +
            ",\"node\":" + JsonString(port.entry.strDeviceNode) +
            ",\"reader\":" + JsonBool(port.bReader) + ",\"exists\":" + JsonBool(a.bExists) +
            ",\"owner\":" + JsonString(a.strOwner) + ",\"group\":" + JsonString(a.strGroup) +
            ",\"mode\":" + JsonString(ModeText(a.nMode)) +
            ",\"may_read_write\":" + JsonBool(a.bMayReadWrite) +
            ",\"in_group\":" + JsonBool(a.bUserInGroup) + ",\"acl\":" + JsonBool(a.bHasAcl) +
            ",\"holders\":[" + strHolders + "],\"modem_manager\":" + pszMm + "}";
    }
    std::string strFindings;
    for (const Finding& finding : findings) {
        strFindings += std::string(strFindings.empty() ? "" : ",") + "{\"level\":\"" +
                       LevelName(finding.eLevel) + "\",\"text\":" + JsonString(finding.strText) +
                       "}";
    }
    std::printf("{\"user\":%s,\"uid\":%u,\"groups\":%s,\"groups_after_login\":%s,"
                "\"ports\":[%s],\"udev_rule\":%s,\"modem_manager_running\":%s,"
                "\"findings\":[%s],\"blocked\":%s}\n",
                JsonString(facts.strUser).c_str(), facts.nUid, JsonList(facts.groups).c_str(),
                JsonList(facts.lateGroups).c_str(), strPorts.c_str(),
                facts.strRule.empty() ? "null" : JsonString(facts.strRule).c_str(),
                JsonBool(facts.bModemManager), strFindings.c_str(), JsonBool(bBlocked));
}

} // namespace

int RunDoctor(const std::vector<std::string>& args) {
    bool bJson = false;
    for (const std::string& strArg : args) {
        if (strArg == "--json") {
            bJson = true;
        } else if (strArg == "--help" || strArg == "-h") {
            std::fputs(kDoctorHelp, stdout);
            return kExitOk;
        } else {
            std::fprintf(stderr, "fwupgrader-cli doctor: unexpected argument '%s'\n\n%s",
                         strArg.c_str(), kDoctorHelp);
            return kExitUsage;
        }
    }
    const Facts facts = GatherFacts();
    const std::vector<Finding> findings = Judge(facts);
    const long nBlocking = std::count_if(findings.begin(), findings.end(),
                                         [](const Finding& f) { return f.eLevel == Level::Block; });
    if (bJson) {
        PrintJson(facts, findings, nBlocking > 0);
    } else {
        for (const Finding& finding : findings) {
            // Port names and process names come from outside: escaped, one line each.
            std::printf("%-5s  %s\n", LevelName(finding.eLevel),
                        DisplayText(finding.strText).c_str());
        }
        if (nBlocking == 0) {
            std::printf("nothing blocks a reader\n");
        } else {
            std::printf("%ld finding%s above block%s a reader\n", nBlocking,
                        nBlocking == 1 ? "" : "s", nBlocking == 1 ? "s" : "");
        }
    }
    return nBlocking > 0 ? kExitDoctorFound : kExitOk;
}

} // namespace fwup::cli
