// Port access diagnosis against real pseudo-terminals reached through links, as a
// simulated tree publishes them, and the texts an operator reads.
#include "serial/PortAccess.h"
#include "tests/support/CTempRoot.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// A pty whose slave is reachable as <dir>/ttyACM<n>, a link like a simulated port's node.
class LinkedPty {
public:
    LinkedPty(const std::string& strDir, const std::string& strName) {
        m_fdMaster = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_fdMaster >= 0 && ::grantpt(m_fdMaster) == 0 && ::unlockpt(m_fdMaster) == 0) {
            m_strSlave = ::ptsname(m_fdMaster);
            m_strLink = strDir + "/" + strName;
            if (::symlink(m_strSlave.c_str(), m_strLink.c_str()) != 0) {
                m_strLink.clear();
            }
        }
    }
    ~LinkedPty() {
        if (m_fdMaster >= 0) {
            ::close(m_fdMaster);
        }
    }
    LinkedPty(const LinkedPty&) = delete;
    LinkedPty& operator=(const LinkedPty&) = delete;

    const std::string& Link() const { return m_strLink; }
    const std::string& Slave() const { return m_strSlave; }
    int MasterFd() const { return m_fdMaster; }

private:
    int m_fdMaster = -1;
    std::string m_strSlave;
    std::string m_strLink;
};

class PortAccessTest : public ::testing::Test {
protected:
    fwtest::CTempRoot m_root{false};
};

TEST_F(PortAccessTest, HoldersAreFoundByDeviceNumberThroughTheLink) {
    LinkedPty opened(m_root.Path(), "ttyACM0");
    LinkedPty unopened(m_root.Path(), "ttyACM1");
    ASSERT_FALSE(opened.Link().empty());
    ASSERT_FALSE(unopened.Link().empty());

    const int fd = ::open(opened.Link().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const std::vector<fwup::PortHolder> holders = fwup::FindPortHolders(opened.Link());
    ::close(fd);

    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].nPid, ::getpid());
    EXPECT_FALSE(holders[0].strCommand.empty());
    EXPECT_TRUE(fwup::FindPortHolders(unopened.Link()).empty());
    EXPECT_TRUE(fwup::FindPortHolders(opened.Link()).empty()) << "closed again";
    EXPECT_TRUE(fwup::FindPortHolders(m_root.Path() + "/missing").empty());
}

TEST_F(PortAccessTest, AnotherProcessNamedModemManagerIsReportedAsSuch) {
    LinkedPty pty(m_root.Path(), "ttyACM0");
    ASSERT_FALSE(pty.Link().empty());
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Holds the port under ModemManager's command name until killed.
        ::prctl(PR_SET_NAME, "ModemManager");
        ::close(pty.MasterFd()); // a competitor holds the slave only
        const int fd = ::open(pty.Link().c_str(), O_RDWR | O_NOCTTY);
        const char cReady = fd >= 0 ? '1' : '0';
        (void)!::write(pipeFds[1], &cReady, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    char cReady = '0';
    (void)!::read(pipeFds[0], &cReady, 1);
    ::close(pipeFds[0]);

    const std::vector<fwup::PortHolder> holders = fwup::FindPortHolders(pty.Link());
    const bool bRunning = fwup::IsModemManagerRunning();
    const bool bChildServes = fwup::ServesPseudoTerminal(pid, pty.Link());
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);

    ASSERT_EQ(cReady, '1');
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].nPid, pid);
    EXPECT_EQ(holders[0].strCommand, "ModemManager");
    EXPECT_TRUE(bRunning);
    EXPECT_FALSE(bChildServes);
    EXPECT_TRUE(fwup::ServesPseudoTerminal(::getpid(), pty.Link()))
        << "this process has the master";
    EXPECT_FALSE(fwup::ServesPseudoTerminal(::getpid(), "/dev/null"));
    const std::string strText = fwup::ExplainBusy(pty.Link(), holders);
    EXPECT_NE(strText.find("pid " + std::to_string(pid) + " (ModemManager)"), std::string::npos);
    EXPECT_NE(strText.find("ID_MM_DEVICE_IGNORE"), std::string::npos) << strText;
}

// What a non-root child finds out about a root-owned 0600 node, and whether open agrees.
TEST_F(PortAccessTest, NonRootUserMayNotOpenARootOnlyNode) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to hand the node to root and drop to nobody";
    }
    LinkedPty pty(m_root.Path(), "ttyACM0");
    ASSERT_FALSE(pty.Link().empty());
    ASSERT_EQ(::chmod(m_root.Path().c_str(), 0755), 0); // the child must reach the link
    ASSERT_EQ(::chown(pty.Slave().c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(pty.Slave().c_str(), 0600), 0);

    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::string strReport = "drop failed";
        if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0) {
            const fwup::NodeAccess access = fwup::InspectNodeAccess(pty.Link());
            const int fd = ::open(pty.Link().c_str(), O_RDWR | O_NOCTTY);
            const int nErrno = errno;
            strReport = std::string(access.bExists ? "E" : "-") +
                        (access.bMayReadWrite ? "M" : "-") + (access.bUserInGroup ? "G" : "-") +
                        (fd < 0 && nErrno == EACCES ? "D" : "-") + " " + access.strOwner + " " +
                        access.strGroup + " " + std::to_string(access.nMode) + "\n" +
                        fwup::ExplainPermissionDenied(pty.Link(), access);
        }
        (void)!::write(pipeFds[1], strReport.data(), strReport.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string strReport;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        strReport.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeFds[0]);
    ::waitpid(pid, nullptr, 0);

    const std::string strFacts = strReport.substr(0, strReport.find('\n'));
    EXPECT_EQ(strFacts, "E--D root root " + std::to_string(0600));
    const std::string strText = strReport.substr(strReport.find('\n') + 1);
    EXPECT_NE(strText.find("group root"), std::string::npos) << strText;
    EXPECT_NE(strText.find("mode 0600"), std::string::npos) << strText;
    EXPECT_NE(strText.find("udev rule"), std::string::npos) << strText;
    EXPECT_EQ(strText.find("usermod"), std::string::npos) << "joining root's group is no fix";
}

TEST(PortAccessGroups, PrimaryGroupComesFirst) {
    const std::vector<std::string> groups = fwup::CurrentUserGroups();
    ASSERT_FALSE(groups.empty());
    const group* pPrimary = ::getgrgid(::getegid());
    EXPECT_EQ(groups[0], pPrimary ? pPrimary->gr_name : std::to_string(::getegid()));
}

struct ExplainCase {
    const char* pszName;
    std::string strText;
    std::vector<std::string> contains;
    std::vector<std::string> lacks;
};

fwup::NodeAccess Access(const char* pszGroup, unsigned nMode, bool bInGroup, bool bAcl = false) {
    fwup::NodeAccess access;
    access.bExists = true;
    access.strOwner = "root";
    access.strGroup = pszGroup;
    access.nMode = nMode;
    access.bUserInGroup = bInGroup;
    access.bHasAcl = bAcl;
    access.bSerialDevice = true;
    access.strKind = "character device (ttyACM)";
    return access;
}

TEST(PortAccessExplain, TextsNameCauseAndFix) {
    const std::string strNode = "/dev/ttyACM0";
    const std::vector<ExplainCase> cases = {
        {"dialout, not a member",
         fwup::ExplainPermissionDenied(strNode, Access("dialout", 0660, false)),
         {"permission denied on /dev/ttyACM0", "owner root", "group dialout", "mode 0660",
          "sudo usermod -aG dialout $USER", "log in again", "udev rule"},
         {"getfacl"}},
        {"root only",
         fwup::ExplainPermissionDenied(strNode, Access("root", 0600, false)),
         {"group root", "mode 0600", "udev rule"},
         {"usermod"}},
        {"member, group may not write",
         fwup::ExplainPermissionDenied(strNode, Access("dialout", 0640, true)),
         {"mode 0640", "group dialout has no read-write access", "udev rule"},
         {"usermod"}},
        {"with an ACL",
         fwup::ExplainPermissionDenied(strNode, Access("dialout", 0660, false, true)),
         {"access control list", "getfacl /dev/ttyACM0", "usermod -aG dialout"},
         {}},
        // A node that is no tty device: its group owns no serial device, no fix.
        {"not a serial device",
         fwup::ExplainPermissionDenied(strNode,
                                       [] {
                                           fwup::NodeAccess a = Access("disk", 0660, false);
                                           a.bSerialDevice = false;
                                           a.strKind = "regular file";
                                           return a;
                                       }()),
         {"/dev/ttyACM0 is a regular file, not a serial device"},
         {"usermod", "disk"}},
        {"denied but gone",
         fwup::ExplainPermissionDenied(strNode, fwup::NodeAccess{}),
         {"/dev/ttyACM0 has gone"},
         {"permission"}},
        {"busy, one holder",
         fwup::ExplainBusy(strNode, {{1234, "minicom"}}),
         {"/dev/ttyACM0 is held by another program", "pid 1234 (minicom)", "close it"},
         {"ModemManager"}},
        {"busy, ModemManager among two",
         fwup::ExplainBusy(strNode, {{77, "screen"}, {812, "ModemManager"}}),
         {"pid 77 (screen), pid 812 (ModemManager)", "ModemManager probes", "ID_MM_DEVICE_IGNORE",
          "systemctl stop ModemManager", "udev rule"},
         {}},
        {"busy, unreadable command", fwup::ExplainBusy(strNode, {{9, ""}}), {"pid 9 (?)"}, {}},
        {"busy, this program",
         fwup::ExplainBusy(strNode, {{::getpid(), "fwupgrader-cli"}}),
         {"already open", "this program"},
         {"another program"}},
        {"busy, nobody visible",
         fwup::ExplainBusy(strNode, {}),
         {"/dev/ttyACM0 is busy", "no holder is visible", "fuser"},
         {"pid"}},
        {"vanished",
         fwup::ExplainVanished(strNode),
         {"port /dev/ttyACM0 has gone", "plug it in"},
         {}},
    };
    for (const ExplainCase& c : cases) {
        EXPECT_EQ(c.strText.find('\n'), std::string::npos) << c.pszName << ": one line";
        for (const std::string& strPart : c.contains) {
            EXPECT_NE(c.strText.find(strPart), std::string::npos)
                << c.pszName << ": missing \"" << strPart << "\" in: " << c.strText;
        }
        for (const std::string& strPart : c.lacks) {
            EXPECT_EQ(c.strText.find(strPart), std::string::npos)
                << c.pszName << ": unexpected \"" << strPart << "\" in: " << c.strText;
        }
    }
}

} // namespace
