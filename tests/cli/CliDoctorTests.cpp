// fwupgrader-cli doctor on a tree published by the simulated port, for root and for
// a user who may not open the reader's node.
#include "cli/DoctorJudge.h"
#include "serial/PortAccess.h"
#include "sim/CVirtualPort.h"
#include "tests/support/CChildProcess.h"
#include "tests/support/CTempRoot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& strText, const std::string& strPart) {
    return strText.find(strPart) != std::string::npos;
}

class CliDoctor : public ::testing::Test {
protected:
    void SetUp() override {
        fwsim::VirtualPortConfig config;
        config.strRoot = m_root.Path();
        m_pPort = std::make_unique<fwsim::CVirtualPort>(config);
        ASSERT_TRUE(m_pPort->Plug()) << m_pPort->LastError();
    }

    // Runs doctor (as nobody when bAsNobody) with this root; returns the exit code.
    int Doctor(const std::vector<std::string>& extra, std::string& strOut, bool bAsNobody = false) {
        std::vector<std::string> args = {"doctor"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::string strProgram = FWUP_CLI_PATH;
        if (bAsNobody) {
            args.insert(args.begin(),
                        {"--reuid=65534", "--regid=65534", "--clear-groups", "--", FWUP_CLI_PATH});
            strProgram = "/usr/bin/setpriv";
        }
        fwtest::CChildProcess cli(strProgram, args, {"FWUP_SYSROOT=" + m_root.Path()});
        const int nExit = cli.Wait(10000);
        strOut = cli.Output();
        return nExit;
    }

    void InstallRule() {
        const fs::path dir = fs::path(m_root.Path()) / "usr/lib/udev/rules.d";
        fs::create_directories(dir);
        std::ofstream(dir / "70-fwupgrader.rules") << "# test\n";
    }

    // What udev would have recorded for the port's device (empty text removes it).
    void WriteUdevRecord(const std::string& strText) {
        struct stat st {};
        ASSERT_EQ(::stat(m_pPort->SlavePath().c_str(), &st), 0);
        const fs::path dir = fs::path(m_root.Path()) / "run/udev/data";
        fs::create_directories(dir);
        const fs::path file = dir / ("c" + std::to_string(major(st.st_rdev)) + ":" +
                                     std::to_string(minor(st.st_rdev)));
        if (strText.empty()) {
            fs::remove(file);
        } else {
            std::ofstream(file) << strText;
        }
    }

    // A process whose command is "ModemManager" (a link to sleep), holding the port
    // open when bHoldPort. Returns once it shows, so doctor sees it.
    std::unique_ptr<fwtest::CChildProcess> StartModemManager(bool bHoldPort) {
        const fs::path link = fs::path(m_root.Path()) / "ModemManager";
        fs::create_symlink("/bin/sleep", link);
        auto pChild = std::make_unique<fwtest::CChildProcess>(
            "/bin/sh", std::vector<std::string>{
                           "-c", bHoldPort ? "exec 3<>\"$0\"; exec \"$1\" 30" : "exec \"$1\" 30",
                           m_pPort->DevicePath(), link.string()});
        for (int i = 0; i < 200 && !fwup::IsModemManagerRunning(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return pChild;
    }

    fwtest::CTempRoot m_root{false};
    std::unique_ptr<fwsim::CVirtualPort> m_pPort;
};

TEST_F(CliDoctor, UserWhoMayNotOpenTheReaderIsToldTheFix) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to hand the node to root:dialout and run as nobody";
    }
    const group* pDialout = ::getgrnam("dialout");
    ASSERT_NE(pDialout, nullptr);
    ASSERT_EQ(::chmod(m_root.Path().c_str(), 0755), 0);
    ASSERT_EQ(::chown(m_pPort->SlavePath().c_str(), 0, pDialout->gr_gid), 0);
    ASSERT_EQ(::chmod(m_pPort->SlavePath().c_str(), 0660), 0);

    std::string strOut;
    EXPECT_EQ(Doctor({}, strOut, true), 1) << strOut;
    EXPECT_TRUE(Contains(strOut, "user nobody (uid 65534)")) << strOut;
    EXPECT_TRUE(Contains(strOut, "block  port AT91 USB to Serial Converter (COM1): permission "
                                 "denied on " +
                                     m_pPort->DevicePath() +
                                     " (owner root, group dialout, mode 0660): add your user to "
                                     "the group dialout (sudo usermod -aG dialout $USER)"))
        << strOut;
    EXPECT_TRUE(Contains(strOut, "warn   the fwupgrader udev rule (70-fwupgrader.rules) is not "
                                 "installed"))
        << strOut;

    EXPECT_EQ(Doctor({"--json"}, strOut, true), 1) << strOut;
    EXPECT_TRUE(Contains(strOut, "\"may_read_write\":false,\"in_group\":false")) << strOut;
    EXPECT_TRUE(Contains(strOut, "\"blocked\":true}\n")) << strOut;
}

TEST_F(CliDoctor, NothingBlocksWhoMayOpenTheReader) {
    InstallRule();
    std::string strOut;
    EXPECT_EQ(Doctor({}, strOut), 0) << strOut;
    // The simulator holds its own pty's slave: that is the reader's side, not a competitor.
    EXPECT_TRUE(Contains(strOut, "ok     port AT91 USB to Serial Converter (COM1): you may open " +
                                     m_pPort->DevicePath()))
        << strOut;
    EXPECT_TRUE(Contains(strOut, "ok     udev rule installed: " + m_root.Path() +
                                     "/usr/lib/udev/rules.d/70-fwupgrader.rules"))
        << strOut;
    EXPECT_TRUE(Contains(strOut, "\nnothing blocks a reader\n")) << strOut;
    EXPECT_FALSE(Contains(strOut, "block ")) << strOut;

    EXPECT_EQ(Doctor({"--json"}, strOut), 0) << strOut;
    EXPECT_TRUE(Contains(strOut, "\"reader\":true,\"exists\":true")) << strOut;
    EXPECT_TRUE(Contains(strOut, "\"holders\":[]")) << strOut;
    EXPECT_EQ(Doctor({"--frobnicate"}, strOut), 2);

    // A link to /dev/null in /etc switches the packaged rule off, as in udev.
    const fs::path etc = fs::path(m_root.Path()) / "etc/udev/rules.d";
    fs::create_directories(etc);
    fs::create_symlink("/dev/null", etc / "70-fwupgrader.rules");
    EXPECT_EQ(Doctor({}, strOut), 0) << strOut;
    EXPECT_TRUE(Contains(strOut, "warn   the fwupgrader udev rule is switched off by " +
                                     (etc / "70-fwupgrader.rules").string()))
        << strOut;
}

TEST_F(CliDoctor, ModemManagerHoldingTheReaderIsNamedWithItsFix) {
    InstallRule(); // ModemManager that ignores the rule still blocks
    const auto pModemManager = StartModemManager(true);
    std::vector<fwup::PortHolder> holders;
    for (int i = 0; i < 200 && holders.empty(); ++i) {
        holders = fwup::FindPortHolders(m_pPort->DevicePath());
        std::erase_if(holders, [](const fwup::PortHolder& h) { return h.nPid == ::getpid(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(holders.size(), 1u);

    std::string strOut;
    EXPECT_EQ(Doctor({}, strOut), 1) << strOut;
    EXPECT_TRUE(Contains(strOut, "block  port AT91 USB to Serial Converter (COM1): port " +
                                     m_pPort->DevicePath() + " is held by another program: pid " +
                                     std::to_string(holders[0].nPid) + " (ModemManager)"))
        << strOut;
    EXPECT_TRUE(Contains(strOut, "ID_MM_DEVICE_IGNORE")) << strOut;
    EXPECT_EQ(Doctor({"--json"}, strOut), 1) << strOut;
    EXPECT_TRUE(Contains(strOut, "\"command\":\"ModemManager\"")) << strOut;
    EXPECT_TRUE(Contains(strOut, "\"modem_manager_running\":true")) << strOut;
}

// Whether a running ModemManager would probe the reader: udev's record of the device
// decides; without one, the installed rule does.
TEST_F(CliDoctor, ModemManagerProbingFollowsUdevRecordOrRule) {
    const auto pModemManager = StartModemManager(false);
    struct Row {
        bool bRule;
        std::string strRecord;
        int nExit;
        std::string strLine;
    };
    const Row rows[] = {
        {false, "", 1, "block  ModemManager runs and probes a reader"},
        {false, "E:ID_MM_CANDIDATE=1\nE:ID_MM_DEVICE_IGNORE=1\n", 0,
         "ok     ModemManager runs and leaves the reader alone"},
        {true, "", 0, "ok     ModemManager runs and leaves the reader alone"},
        {true, "E:ID_MM_CANDIDATE=1\n", 1, "block  ModemManager runs and probes a reader"},
    };
    for (const Row& row : rows) {
        if (row.bRule) {
            InstallRule();
        }
        WriteUdevRecord(row.strRecord);
        std::string strOut;
        EXPECT_EQ(Doctor({}, strOut), row.nExit) << strOut;
        EXPECT_TRUE(Contains(strOut, row.strLine)) << strOut;
    }
}

} // namespace

namespace {

// Odd things where doctor looks: it must end (never block on a FIFO) and never take
// a node that is no tty device for the reader's port or suggest its group.
TEST_F(CliDoctor, OddPathsNeverHangNorPassForTheReader) {
    struct Row {
        const char* pszName;
        std::function<void()> setUp;
        const char* pszExpected;
    };
    const fs::path node = m_pPort->DevicePath();
    const fs::path plain = fs::path(m_root.Path()) / "plain-file";
    std::ofstream(plain) << "not a tty\n";
    const std::vector<Row> rows = {
        {"udev record is a FIFO",
         [&] {
             WriteUdevRecord("E:ID_MM_DEVICE_IGNORE=1\n");
             struct stat st {};
             ASSERT_EQ(::stat(m_pPort->SlavePath().c_str(), &st), 0);
             const fs::path file = fs::path(m_root.Path()) / "run/udev/data" /
                                   ("c" + std::to_string(major(st.st_rdev)) + ":" +
                                    std::to_string(minor(st.st_rdev)));
             fs::remove(file);
             ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
         },
         "you may open"},
        {"node links to a regular file",
         [&] {
             fs::remove(node);
             fs::create_symlink(plain, node);
         },
         "is a regular file, not a serial device"},
        {"node links to another kind of device",
         [&] {
             fs::remove(node);
             fs::create_symlink("/dev/null", node);
         },
         "is a character device (mem), not a serial device"},
    };
    for (const Row& row : rows) {
        row.setUp();
        std::string strOut;
        const int nExit = Doctor({}, strOut);
        EXPECT_NE(nExit, -1) << row.pszName << ": doctor hung\n" << strOut;
        EXPECT_TRUE(Contains(strOut, row.pszExpected)) << row.pszName << "\n" << strOut;
        EXPECT_FALSE(Contains(strOut, "usermod")) << row.pszName << "\n" << strOut;
    }
    // With no tty behind the reader's name, no port lists as a reader.
    std::string strOut;
    Doctor({"--json"}, strOut);
    EXPECT_TRUE(Contains(strOut, "\"reader\":false")) << strOut;
}

} // namespace

// doctor's judgement on facts made up here: which findings block a reader (exit 1)
// and what the deciding line says.
namespace {

using fwup::cli::Facts;
using fwup::cli::Finding;
using fwup::cli::Level;
using fwup::cli::PortFacts;

// A user who may open the one reader present, with the rule and without ModemManager.
Facts ReaderFacts() {
    Facts facts;
    facts.strUser = "op";
    facts.nUid = 1000;
    facts.groups = {"op", "plugdev"};
    PortFacts port;
    port.entry = {"AT91 USB to Serial Converter (COM1)", "AT91 USB to Serial Converter",
                  "/dev/ttyACM0", "1-1:1.0", 1};
    port.bReader = true;
    port.access = {
        true, "root", "plugdev", 0660, true, true, false, true, "character device (ttyACM)"};
    facts.ports = {port};
    facts.strRule = "/etc/udev/rules.d/70-fwupgrader.rules";
    return facts;
}

struct JudgeRow {
    const char* pszName;
    void (*change)(Facts&);
    int nBlocks;  // findings of level block
    Level eLevel; // the level of the line that says pszText
    const char* pszText;
};

const JudgeRow kJudgeRows[] = {
    {"all well", [](Facts&) {}, 0, Level::Ok,
     "you may open /dev/ttyACM0 (owner root, group plugdev, mode 0660)"},
    {"reader denied", [](Facts& f) { f.ports[0].access.bMayReadWrite = false; }, 1, Level::Block,
     "port AT91 USB to Serial Converter (COM1): "},
    {"other converter denied",
     [](Facts& f) {
         f.ports[0].bReader = false;
         f.ports[0].access.bMayReadWrite = false;
     },
     0, Level::Warn, "no port lists as a reader"},
    {"reader gone", [](Facts& f) { f.ports[0].access.bExists = false; }, 1, Level::Block,
     "port AT91 USB to Serial Converter (COM1): "},
    {"reader held",
     [](Facts& f) {
         f.ports[0].holders = {{4242, "minicom"}};
     },
     1, Level::Block, "port AT91 USB to Serial Converter (COM1): "},
    {"no port", [](Facts& f) { f.ports.clear(); }, 0, Level::Warn, "no USB serial port is present"},
    {"group joined later", [](Facts& f) { f.lateGroups = {"dialout"}; }, 0, Level::Warn,
     "log out and in"},
    {"rule switched off",
     [](Facts& f) {
         f.strRule.clear();
         f.strMasked = "/etc/udev/rules.d/70-fwupgrader.rules";
     },
     0, Level::Warn, "switched off by /etc/udev/rules.d/70-fwupgrader.rules"},
    {"no rule", [](Facts& f) { f.strRule.clear(); }, 0, Level::Warn, "is not installed"},
    {"ModemManager, reader ignored by the rule", [](Facts& f) { f.bModemManager = true; }, 0,
     Level::Ok, "leaves the reader alone"},
    {"ModemManager, no rule",
     [](Facts& f) {
         f.bModemManager = true;
         f.strRule.clear();
     },
     1, Level::Block, "ModemManager runs and probes a reader"},
    {"ModemManager, udev says probed despite the rule",
     [](Facts& f) {
         f.bModemManager = true;
         f.ports[0].eMm = PortFacts::MmFlag::Probed;
     },
     1, Level::Block, "ModemManager runs and probes a reader"},
    {"ModemManager, no reader and no rule",
     [](Facts& f) {
         f.bModemManager = true;
         f.strRule.clear();
         f.ports.clear();
     },
     0, Level::Warn, "ModemManager runs and probes a reader"},
};

TEST(CliDoctorJudge, EveryFindingHasItsLevel) {
    for (const JudgeRow& row : kJudgeRows) {
        Facts facts = ReaderFacts();
        row.change(facts);
        const std::vector<Finding> findings = fwup::cli::Judge(facts);
        EXPECT_EQ(std::count_if(findings.begin(), findings.end(),
                                [](const Finding& f) { return f.eLevel == Level::Block; }),
                  row.nBlocks)
            << row.pszName;
        const auto it = std::find_if(findings.begin(), findings.end(), [&](const Finding& f) {
            return f.strText.find(row.pszText) != std::string::npos;
        });
        ASSERT_NE(it, findings.end()) << row.pszName << ": no line says " << row.pszText;
        EXPECT_EQ(it->eLevel, row.eLevel) << row.pszName << ": " << it->strText;
        EXPECT_EQ(findings.front().strText, "user op (uid 1000), groups: op, plugdev")
            << row.pszName;
    }
}

} // namespace
