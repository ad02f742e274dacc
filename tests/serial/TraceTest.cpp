// The Rx/Tx byte trace on the debug channel.
#include "serial/CComPort.h"
#include "serial/DebugChannel.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous = fwup::SetDebugSink([this](const std::string& s) { m_lines.push_back(s); });
    }
    void TearDown() override { fwup::SetDebugSink(m_previous); }

    std::vector<std::string> m_lines;
    fwup::DebugSink m_previous;
};

TEST_F(TraceTest, FiveBytesGiveOneLine) {
    const uint8_t bytes[] = {0x7E, 0x52, 0x76, 0x0D, 0x0A};
    fwup::TraceBytes("Rx : ", bytes, 5);
    ASSERT_EQ(m_lines.size(), 1u);
    EXPECT_EQ(m_lines[0], "Rx : 7e 52 76 0d 0a \n");
}

TEST_F(TraceTest, SixteenBytesALine) {
    std::vector<uint8_t> bytes(33);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i);
    }
    fwup::TraceBytes("Tx : ", bytes.data(), 17);
    ASSERT_EQ(m_lines.size(), 2u);
    EXPECT_EQ(m_lines[0], "Tx : 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n");
    EXPECT_EQ(m_lines[1], "Tx : 10 \n");
    m_lines.clear();
    fwup::TraceBytes("Tx : ", bytes.data(), 33);
    EXPECT_EQ(m_lines.size(), 3u);
}

TEST_F(TraceTest, NothingMovedWritesNoLine) {
    fwup::TraceBytes("Rx : ", nullptr, 0);
    EXPECT_TRUE(m_lines.empty());
}

TEST_F(TraceTest, ClosedPortFailsWithoutTrace) {
    fwup::CComPort port("", 1024, 20480);
    uint8_t buffer[8];
    uint32_t nBytes = sizeof buffer;
    EXPECT_EQ(port.Read(buffer, nBytes), static_cast<uint32_t>(EBADF));
    EXPECT_EQ(nBytes, 0u);
    nBytes = 4;
    EXPECT_EQ(port.Write(buffer, nBytes), static_cast<uint32_t>(EBADF));
    EXPECT_EQ(nBytes, 0u);
    EXPECT_TRUE(m_lines.empty());
}

} // namespace
