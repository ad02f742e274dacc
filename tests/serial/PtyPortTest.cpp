// CComPort and the waits over real pseudo-terminals published as USB ports.
#include "serial/CComPort.h"
#include "serial/Clock.h"
#include "serial/DebugChannel.h"
#include "serial/PortDiscovery.h"
#include "serial/PortOpenError.h"
#include "sim/CVirtualPort.h"
#include "tests/support/CTempRoot.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <grp.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

class PtyPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        fwsim::VirtualPortConfig config;
        config.strRoot = m_root.Path();
        config.strUsbPath = "1-" + std::to_string(++s_nUsb);
        m_pDevice = std::make_unique<fwsim::CVirtualPort>(config);
        ASSERT_TRUE(m_pDevice->Plug());
        const std::vector<fwup::PortRecord> ports = fwup::ScanPorts();
        ASSERT_EQ(ports.size(), 1u);
        m_strName = ports[0].strName;
    }

    // Received bytes on the device side, waiting up to a second.
    std::string DeviceReceive(size_t nWanted) {
        std::string strGot;
        const uint32_t dwStart = fwup::GetTickCount();
        while (strGot.size() < nWanted && fwup::TicksSince(dwStart) < 1000) {
            uint8_t buffer[64];
            const ssize_t n = m_pDevice->Receive(buffer, sizeof buffer, 100);
            if (n > 0) {
                strGot.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
            }
        }
        return strGot;
    }

    static int s_nUsb;
    fwtest::CTempRoot m_root;
    std::unique_ptr<fwsim::CVirtualPort> m_pDevice;
    std::string m_strName;
};

int PtyPortTest::s_nUsb = 0;

TEST_F(PtyPortTest, ReadsWhatArrivedWithoutWaitingAndTracesIt) {
    std::vector<std::string> lines;
    const fwup::DebugSink previous =
        fwup::SetDebugSink([&](const std::string& s) { lines.push_back(s); });
    fwup::CComPort port(m_strName, 1024, 20480);
    ASSERT_TRUE(port.IsOpen());
    EXPECT_EQ(port.GetDeviceNode(), m_pDevice->DevicePath());

    uint8_t buffer[8];
    uint32_t nBytes = sizeof buffer;
    // A read that waited at all would wait at least a millisecond each time (the
    // shortest a poll can wait), so a thousand of them would take a second.
    constexpr uint32_t kReads = 1000;
    const uint32_t dwStart = fwup::GetTickCount();
    for (uint32_t i = 0; i < kReads; ++i) {
        nBytes = sizeof buffer;
        EXPECT_EQ(port.Read(buffer, nBytes), 0u);
        EXPECT_EQ(nBytes, 0u);
    }
    EXPECT_LT(fwup::TicksSince(dwStart), kReads * 1u) << "an empty read must not wait";
    EXPECT_TRUE(lines.empty()) << "an empty read writes no trace line";

    ASSERT_TRUE(m_pDevice->Send(std::string("~Rv")));
    std::string strTraced; // the bytes may come in more than one read
    uint32_t nGot = 0;
    const uint32_t dwSent = fwup::GetTickCount();
    while (nGot < 3 && fwup::TicksSince(dwSent) < 1000 && port.WaitReadable(100)) {
        nBytes = sizeof buffer;
        EXPECT_EQ(port.Read(buffer, nBytes), 0u);
        nGot += nBytes;
    }
    EXPECT_EQ(nGot, 3u);
    for (const std::string& strLine : lines) {
        ASSERT_EQ(strLine.compare(0, 5, "Rx : "), 0) << strLine;
        ASSERT_EQ(strLine.back(), '\n');
        strTraced += strLine.substr(5, strLine.size() - 6);
    }
    EXPECT_EQ(strTraced, "7e 52 76 ");
    const size_t nRxLines = lines.size();

    uint32_t nWrite = 5;
    EXPECT_EQ(port.Write("~rv\r\n", nWrite), 0u);
    EXPECT_EQ(nWrite, 5u);
    EXPECT_EQ(DeviceReceive(5), "~rv\r\n");
    ASSERT_EQ(lines.size(), nRxLines + 1);
    EXPECT_EQ(lines.back(), "Tx : 7e 72 76 0d 0a \n");
    fwup::SetDebugSink(previous);
}

// The line as an open leaves it, read back through the pty's other end (which
// reports the same terminal) and compared with the flags written out here.
TEST_F(PtyPortTest, OpenLeavesTheLineRawAt115200With8N1) {
    fwup::CComPort port(m_strName, 1024, 20480);
    ASSERT_TRUE(port.IsOpen());
    termios tio{};
    ASSERT_EQ(::tcgetattr(m_pDevice->MasterFd(), &tio), 0);
    EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    const struct {
        const char* pszWhat;
        tcflag_t termios::*pFlags;
        tcflag_t nMask;
        tcflag_t nWanted;
    } rows[] = {
        {"8 data bits", &termios::c_cflag, CSIZE, CS8},
        {"no parity", &termios::c_cflag, PARENB, 0},
        {"1 stop bit", &termios::c_cflag, CSTOPB, 0},
        {"modem lines ignored", &termios::c_cflag, CLOCAL, CLOCAL},
        {"receiver on", &termios::c_cflag, CREAD, CREAD},
        {"no hardware flow control", &termios::c_cflag, CRTSCTS, 0},
        {"no software flow control", &termios::c_iflag, IXON | IXOFF | IXANY, 0},
        {"raw input", &termios::c_iflag, IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL,
         0},
        {"raw output", &termios::c_oflag, OPOST, 0},
        {"no line editing, echo or signals", &termios::c_lflag,
         ICANON | ECHO | ECHONL | ISIG | IEXTEN, 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(tio.*row.pFlags & row.nMask, row.nWanted) << row.pszWhat;
    }
}

TEST_F(PtyPortTest, WaitReadableTimesOutOnSilence) {
    fwup::CComPort port(m_strName, 1024, 20480);
    ASSERT_TRUE(port.IsOpen());
    const uint32_t dwStart = fwup::GetTickCount();
    EXPECT_FALSE(port.WaitReadable(200));
    EXPECT_GE(fwup::TicksSince(dwStart), 190u);
}

TEST_F(PtyPortTest, OpenIsExclusiveInThisAndAnotherProcess) {
    fwup::CComPort first(m_strName, 1024, 20480);
    ASSERT_TRUE(first.IsOpen());
    fwup::CComPort second(m_strName, 1024, 20480);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(second.GetOpenedPort(), second.GetPortNumber());

    auto openInChild = [this] {
        const pid_t pid = ::fork();
        if (pid == 0) {
            fwup::CComPort other(m_strName, 1024, 20480);
            ::_exit(other.IsOpen() ? 1 : 0);
        }
        int nStatus = 0;
        ::waitpid(pid, &nStatus, 0);
        return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    };
    EXPECT_EQ(openInChild(), 0) << "another process (root too) must not open a held port";

    // The holder keeps a working port.
    ASSERT_TRUE(m_pDevice->Send(std::string("x")));
    EXPECT_TRUE(first.WaitReadable(1000));
    first.Close();
    EXPECT_EQ(openInChild(), 1) << "a released port can be opened again";
}

TEST_F(PtyPortTest, HangUpIsAFailedReadNotSilence) {
    fwup::CComPort port(m_strName, 1024, 20480);
    ASSERT_TRUE(port.IsOpen());
    m_pDevice->Unplug();
    uint8_t buffer[8];
    uint32_t dwError = 0;
    const uint32_t dwStart = fwup::GetTickCount();
    while (dwError == 0 && fwup::TicksSince(dwStart) < 2000) {
        uint32_t nBytes = sizeof buffer;
        dwError = port.Read(buffer, nBytes);
        EXPECT_EQ(nBytes, 0u);
    }
    EXPECT_EQ(dwError, static_cast<uint32_t>(EIO));
    uint32_t nBytes = 3;
    EXPECT_NE(port.Write("abc", nBytes), 0u);
}

TEST_F(PtyPortTest, WaitOpenGivesUpAtItsLimitAndReturnsAtOnceWhenOpen) {
    fwup::CComPort absent("AT91 USB to Serial Converter (COM77)", 1024, 20480);
    ASSERT_FALSE(absent.IsOpen());
    uint32_t dwStart = fwup::GetTickCount();
    EXPECT_FALSE(absent.WaitOpen(700));
    const uint32_t dwTook = fwup::TicksSince(dwStart);
    EXPECT_GE(dwTook, 700u);
    EXPECT_LT(dwTook, 1500u);

    fwup::CComPort port(m_strName, 1024, 20480);
    ASSERT_TRUE(port.IsOpen());
    dwStart = fwup::GetTickCount();
    EXPECT_TRUE(port.WaitOpen(7000));
    // Open already: no poll, and one poll would take its 100 ms.
    EXPECT_LT(fwup::TicksSince(dwStart), 100u);
    EXPECT_FALSE(absent.WaitOpen(0));
}

TEST_F(PtyPortTest, ReopenStaysClosedForAtLeast300msThenOpens) {
    fwup::CComPort port(m_strName, 1024, 20480);
    ASSERT_TRUE(port.IsOpen());
    const uint32_t dwStart = fwup::GetTickCount();
    port.Reopen();
    EXPECT_GE(fwup::TicksSince(dwStart), 300u);
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(PtyPortTest, CloseAndWaitGoneReturnsOnceThePortVanished) {
    fwup::CComPort port(m_strName, 1024, 20480);
    ASSERT_TRUE(port.IsOpen());
    std::thread unplugger([this] {
        fwup::SleepMs(300);
        m_pDevice->Unplug();
    });
    const uint32_t dwStart = fwup::GetTickCount();
    port.CloseAndWaitGone(true);
    const uint32_t dwTook = fwup::TicksSince(dwStart);
    unplugger.join();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_GE(dwTook, 250u);
    EXPECT_FALSE(port.IsPresent());
}

TEST_F(PtyPortTest, NumberSurvivesAReturnUnderAnotherTtyAndProduct) {
    fwup::CComPort port(m_strName, 1024, 20480);
    ASSERT_TRUE(port.IsOpen());
    const int nPort = port.GetPortNumber();
    m_pDevice->Unplug();
    port.Close();
    ASSERT_TRUE(m_pDevice->Plug("ttyACM9", "Tarnic Boot Loader"));
    const std::vector<fwup::PortRecord> ports = fwup::ScanPorts();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].nPort, nPort);
    EXPECT_EQ(ports[0].strName, "Tarnic Boot Loader (COM" + std::to_string(nPort) + ")");
    // The old name still finds the port by its number.
    EXPECT_TRUE(port.WaitOpen(2000));
    EXPECT_EQ(port.GetDeviceNode(), m_pDevice->DevicePath());
}

} // namespace

namespace {

// Opens the record in a child dropped to nobody; the child's exit code is the
// problem it met, plus 100 when the text does not name the denial.
int OpenAsNobody(const fwup::PortRecord& record) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(99);
        }
        const fwup::CComPort port(record);
        const fwup::PortOpenError& error = port.GetOpenError();
        const bool bNamed =
            fwup::DescribeOpenError(error).find("permission denied") != std::string::npos;
        ::_exit(static_cast<int>(error.eProblem) + (bNamed ? 0 : 100));
    }
    int nStatus = 0;
    ::waitpid(pid, &nStatus, 0);
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

} // namespace

TEST_F(PtyPortTest, FailedOpensSayWhy) {
    const fwup::PortRecord record = fwup::ScanPorts().at(0);
    { // Busy: held by another port object, which the cause names as this program.
        const fwup::CComPort holder(record);
        ASSERT_TRUE(holder.IsOpen());
        const fwup::CComPort second(record);
        EXPECT_EQ(second.GetOpenError().eProblem, fwup::PortOpenProblem::Busy);
        EXPECT_NE(fwup::DescribeOpenError(second.GetOpenError())
                      .find("pid " + std::to_string(::getpid())),
                  std::string::npos);
    }
    { // Vanished: the node went between the scan and the open.
        m_pDevice->Unplug();
        const fwup::CComPort gone(record);
        EXPECT_FALSE(gone.IsOpen());
        EXPECT_EQ(gone.GetOpenError().eProblem, fwup::PortOpenProblem::Vanished);
        EXPECT_NE(fwup::DescribeOpenError(gone.GetOpenError()).find("has gone"), std::string::npos);
    }
    { // Not listed: a number no present port carries.
        fwup::CComPort none("(COM4242)", 1024, 20480);
        EXPECT_EQ(none.GetOpenError().eProblem, fwup::PortOpenProblem::NotListed);
    }
}

// Permission denied: a root-only node, opened by a child dropped to nobody.
TEST_F(PtyPortTest, FailedOpenOfARootOnlyNodeSaysPermissionDenied) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to hand the node to root and drop a child to nobody";
    }
    const fwup::PortRecord record = fwup::ScanPorts().at(0);
    ASSERT_EQ(::chmod(m_root.Path().c_str(), 0755), 0);
    const std::string strSlave = std::filesystem::canonical(record.strDeviceNode).string();
    ASSERT_EQ(::chown(strSlave.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(strSlave.c_str(), 0600), 0);
    EXPECT_EQ(OpenAsNobody(record), static_cast<int>(fwup::PortOpenProblem::PermissionDenied));
}
