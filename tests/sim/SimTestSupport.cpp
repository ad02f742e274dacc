#include "SimTestSupport.h"

#include "sim/SimPackets.h"

#include <chrono>
#include <fstream>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace fwsim::test {

namespace {
using Clock = std::chrono::steady_clock;
} // namespace

SimDeviceConfig FastConfig(Personality eStart) {
    SimDeviceConfig config;
    config.eStart = eStart;
    config.dwAppRestartMs = 50;
    config.dwBootRestartMs = 50;
    config.dwReadyDelayMs = 20;
    return config;
}

std::vector<uint8_t> StatusQuery() {
    return {0x00, 0x00, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00};
}

bool Handshake(HostLink& host, uint32_t* pdwMaxWords) {
    const std::vector<uint8_t> flags = {0x01, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x3E, 0x5C};
    if (!host.Write(flags) || !host.Write(flags) ||
        !host.Write(std::vector<uint8_t>{0x01, 0x00, 0x00, 0xF0, 0x01, 0x00, 0x00, 0x00})) {
        return false;
    }
    bool bInfo = false;
    for (;;) {
        const std::vector<uint8_t> packet = host.ReadPacket(1000);
        if (packet.size() < 8) {
            return false;
        }
        const uint16_t wCode = GetLe16(packet.data() + 2);
        if (wCode == kCodeInfo && packet.size() == 16) {
            bInfo = true;
            if (pdwMaxWords != nullptr) {
                *pdwMaxWords = GetLe32(packet.data() + 8);
            }
        } else if (wCode == kCodeGo) {
            break;
        }
    }
    const std::vector<uint8_t> reply = host.ReadPacket(1000);
    return bInfo && reply.size() == 16 && GetLe32(reply.data() + 12) == kHandshakeValue;
}

bool WaitForHangup(HostLink& host, int nTimeoutMs) {
    const auto tpDeadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (Clock::now() < tpDeadline) {
        pollfd fd{host.Fd(), POLLIN, 0};
        const int nLeft = static_cast<int>(
            std::chrono::ceil<std::chrono::milliseconds>(tpDeadline - Clock::now()).count());
        if (poll(&fd, 1, std::max(nLeft, 1)) <= 0) {
            continue;
        }
        if (fd.revents & (POLLHUP | POLLERR)) {
            return true;
        }
        uint8_t buffer[64]; // stray bytes before the hang-up
        if (read(host.Fd(), buffer, sizeof(buffer)) <= 0) {
            return true;
        }
    }
    return false;
}

std::string ReadProduct(const std::string& strRoot, const std::string& strUsbPath) {
    std::ifstream file(strRoot + "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + strUsbPath +
                       "/product");
    std::string strText;
    std::getline(file, strText);
    return strText;
}

SimBench::SimBench(SimDeviceConfig config) : m_config(std::move(config)) {
    m_config.strRoot = m_root.Path();
}

SimBench::~SimBench() {
    m_host.Close();
    if (m_pDevice) {
        m_pDevice->Stop();
    }
}

bool SimBench::Start() {
    m_pDevice = std::make_unique<CSimDevice>(m_config);
    return m_pDevice->Start() && m_host.Open(m_pDevice->DevicePath());
}

bool SimBench::WaitForPersonality(Personality e, int nTimeoutMs) {
    const auto tpDeadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (m_pDevice->CurrentPersonality() != e || !m_pDevice->IsPlugged()) {
        if (Clock::now() >= tpDeadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool SimBench::Reconnect(int nTimeoutMs) {
    m_host.Close();
    const auto tpDeadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        if (m_pDevice->IsPlugged() && m_host.Open(m_pDevice->DevicePath())) {
            return true;
        }
        if (Clock::now() >= tpDeadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace fwsim::test
