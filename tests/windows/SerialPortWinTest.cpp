// The Windows serial calls: why an open failed, and (with FWUP_WIN_TEST_PORT
// naming a COM port that the simulator serves, as the end-to-end script sets it)
// exclusive open, the blocking wait and a vanished device.
#include "serial/SerialPlatform.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using SteadyClock = std::chrono::steady_clock;

double ProcessCpuSeconds() {
    FILETIME created{}, exited{}, kernel{}, user{};
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

double SecondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

TEST(SerialOpenWin, AMissingPortSaysSo) {
    fwup::SerialHandle handle;
    const uint32_t dwError = fwup::SerialOpen("\\\\.\\COM250", 20480, 1024, handle);
    EXPECT_EQ(dwError, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(fwup::ClassifyOpenError(dwError), fwup::SerialOpenFault::kNoSuchPort);
    EXPECT_EQ(handle.hNative, -1);
    EXPECT_NE(fwup::SerialErrorText(dwError), "error 2"); // the system's own words
    // Access denied on a COM port means another holder, not missing rights.
    EXPECT_EQ(fwup::ClassifyOpenError(ERROR_ACCESS_DENIED), fwup::SerialOpenFault::kHeldElsewhere);
    EXPECT_EQ(fwup::ClassifyOpenError(0), fwup::SerialOpenFault::kNone);
}

class LivePortTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* pszPort = std::getenv("FWUP_WIN_TEST_PORT");
        if (pszPort == nullptr || *pszPort == '\0') {
            GTEST_SKIP() << "FWUP_WIN_TEST_PORT names no simulated port";
        }
        m_strNode = std::string("\\\\.\\") + pszPort;
    }

    // Writes strText and collects what comes back until strEnd arrives or 3 s pass.
    std::string Exchange(const fwup::SerialHandle& port, const std::string& strText,
                         const std::string& strEnd) {
        uint32_t nBytes = static_cast<uint32_t>(strText.size());
        EXPECT_EQ(fwup::SerialWrite(port, strText.data(), nBytes), 0u);
        EXPECT_EQ(nBytes, strText.size());
        std::string strGot;
        const auto start = SteadyClock::now();
        while (strGot.find(strEnd) == std::string::npos && SecondsSince(start) < 3) {
            if (!fwup::SerialWaitReadable(port, 500)) {
                continue;
            }
            char buffer[64];
            uint32_t nRead = sizeof buffer;
            EXPECT_EQ(fwup::SerialRead(port, buffer, nRead), 0u);
            strGot.append(buffer, nRead);
        }
        return strGot;
    }

    std::string m_strNode;
};

TEST_F(LivePortTest, ExclusiveOpenBlockingWaitAndAReply) {
    fwup::SerialHandle port;
    ASSERT_EQ(fwup::SerialOpen(m_strNode, 20480, 1024, port), 0u);
    // Wine lets a second open through; the port layer refuses it as Windows does.
    fwup::SerialHandle second;
    const uint32_t dwSecond = fwup::SerialOpen(m_strNode, 20480, 1024, second);
    EXPECT_EQ(dwSecond, static_cast<uint32_t>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(fwup::ClassifyOpenError(dwSecond), fwup::SerialOpenFault::kHeldElsewhere);

    const double dCpuBefore = ProcessCpuSeconds();
    const auto start = SteadyClock::now();
    EXPECT_FALSE(fwup::SerialWaitReadable(port, 500));
    const double dWall = SecondsSince(start);
    EXPECT_GE(dWall, 0.49); // an early return would make the callers' loops spin
    std::printf("silent wait: %.3f s wall, %.3f s CPU\n", dWall, ProcessCpuSeconds() - dCpuBefore);

    const std::string strReply = Exchange(port, "~rv\r\n", "\r\n");
    EXPECT_EQ(strReply.rfind("~Rv0000", 0), 0u) << strReply;

    fwup::SerialClose(port);
    EXPECT_EQ(port.hNative, -1);
    ASSERT_EQ(fwup::SerialOpen(m_strNode, 20480, 1024, port), 0u); // released on close
    fwup::SerialClose(port);
}

TEST_F(LivePortTest, AVanishedDeviceIsAFailedReadAndAQuietWait) {
    fwup::SerialHandle port;
    ASSERT_EQ(fwup::SerialOpen(m_strNode, 20480, 1024, port), 0u);
    // The application answers and restarts into its boot loader: this port goes away.
    EXPECT_EQ(Exchange(port, "~dboot\r\n", "\r\n").rfind("~Dboot", 0), 0u);
    uint32_t dwError = 0;
    const auto start = SteadyClock::now();
    while (dwError == 0 && SecondsSince(start) < 3) {
        fwup::SerialWaitReadable(port, 100);
        char buffer[16];
        uint32_t nRead = sizeof buffer;
        dwError = fwup::SerialRead(port, buffer, nRead);
    }
    EXPECT_NE(dwError, 0u) << "the read never failed";
    std::printf("vanished device: read failed with %u after %.3f s\n", dwError,
                SecondsSince(start));

    const double dCpuBefore = ProcessCpuSeconds();
    const auto waitStart = SteadyClock::now();
    EXPECT_FALSE(fwup::SerialWaitReadable(port, 300));
    const double dWall = SecondsSince(waitStart);
    EXPECT_GE(dWall, 0.29);
    std::printf("wait on the vanished port: %.3f s wall, %.3f s CPU\n", dWall,
                ProcessCpuSeconds() - dCpuBefore);
    fwup::SerialClose(port);
}

} // namespace
