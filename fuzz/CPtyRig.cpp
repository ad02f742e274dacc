#include "fuzz/CPtyRig.h"

#include "fuzz/FuzzCheck.h"
#include "serial/DebugChannel.h"
#include "serial/PortDiscovery.h"

#include <cstdlib>

namespace fwup::fuzz {

CPtyRig& CPtyRig::Instance() {
    static CPtyRig rig;
    return rig;
}

CPtyRig::CPtyRig() : m_root("fwup-fuzz-pty-") {
    ::setenv("FWUP_SYSROOT", m_root.Path().c_str(), 1);
    fwsim::VirtualPortConfig config;
    config.strRoot = m_root.Path();
    m_pDevice = std::make_unique<fwsim::CVirtualPort>(config);
    FUZZ_CHECK(m_pDevice->Plug(), "cannot publish the virtual port");
    const std::vector<std::string> names = EnumeratePorts();
    FUZZ_CHECK(names.size() == 1, "the virtual port is not listed exactly once");
    m_pPort = std::make_unique<CComPort>(names.front(), 1024, 20480);
    FUZZ_CHECK(m_pPort->IsOpen(), "cannot open the virtual port by its listed name");
    InstallCheckingTraceSink();
}

void CPtyRig::Feed(const std::string& strBytes) {
    FUZZ_CHECK(strBytes.size() <= kMaxFeed, "feed larger than the pty holds");
    FUZZ_CHECK(m_pDevice->Send(strBytes), "the virtual port refused bytes");
}

std::vector<uint8_t> CPtyRig::TakeHostBytes() {
    std::vector<uint8_t> bytes;
    uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = m_pDevice->Receive(buffer, sizeof buffer, 0);
        FUZZ_CHECK(n >= 0, "the virtual port went away");
        if (n == 0) {
            return bytes;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
}

void CPtyRig::DropUnread() {
    uint8_t buffer[4096];
    for (;;) {
        uint32_t nCount = sizeof buffer;
        const uint32_t dwError = m_pPort->Read(buffer, nCount);
        FUZZ_CHECK(dwError == 0, "reading the virtual port failed");
        if (nCount == 0) {
            return;
        }
    }
}

void InstallCheckingTraceSink() {
    SetDebugSink([](const std::string& strLine) {
        FUZZ_CHECK(!strLine.empty() && strLine.back() == '\n', "trace line without a line end");
    });
}

} // namespace fwup::fuzz
