#include "fuzz/CPtyRig.h"

#include "fuzz/FuzzCheck.h"
#include "serial/DebugChannel.h"
#include "serial/PortDiscovery.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace fwup::fuzz {

CPtyRig& CPtyRig::Instance() {
    static CPtyRig rig;
    return rig;
}

CPtyRig::CPtyRig() {
    m_pDevice = std::make_unique<fwsim::CVirtualPort>(m_rig.PortConfig());
    FUZZ_CHECK(m_pDevice->Plug(), "cannot publish the virtual port");
    // Opened before the product's exclusive open; never read.
    m_hProbe = ::open(m_pDevice->SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    FUZZ_CHECK(m_hProbe >= 0, "cannot open the pty's host side");
    const std::string strName = m_rig.WaitPortName();
    FUZZ_CHECK(!strName.empty() && EnumeratePorts().size() == 1,
               "the virtual port is not listed exactly once");
    m_pPort = std::make_unique<CComPort>(strName, 1024, 20480);
    FUZZ_CHECK(m_pPort->IsOpen(), "cannot open the virtual port by its listed name");
    InstallCheckingTraceSink();
}

CPtyRig::~CPtyRig() {
    if (m_hProbe >= 0) {
        ::close(m_hProbe);
    }
}

void CPtyRig::Feed(const std::string& strBytes) {
    int nQueued = 0;
    FUZZ_CHECK(::ioctl(m_hProbe, FIONREAD, &nQueued) == 0, "cannot count the queued bytes");
    const size_t nWanted = static_cast<size_t>(nQueued) + strBytes.size();
    FUZZ_CHECK(nWanted <= kMaxFeed, "feed larger than the host's queue holds");
    FUZZ_CHECK(m_pDevice->Send(strBytes), "the virtual port refused bytes");
    // Real time on purpose: the code under test runs on a counted clock.
    const auto tpDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (static_cast<size_t>(nQueued) < nWanted) {
        FUZZ_CHECK(std::chrono::steady_clock::now() < tpDeadline, "fed bytes never arrived");
        ::usleep(50);
        FUZZ_CHECK(::ioctl(m_hProbe, FIONREAD, &nQueued) == 0, "cannot count the queued bytes");
    }
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
