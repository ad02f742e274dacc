#include "serial/PortDiscovery.h"

#include "serial/CComPort.h"
#include "serial/CPortNumberTable.h"
#include "serial/CPortWatcher.h"
#include "serial/Clock.h"
#include "serial/UsbTtyScan.h"
#include "serial/Utf8Text.h"

#include <cstdlib>

namespace fwup {

namespace {

// A listed name must fit a 150-character buffer with its terminating zero.
constexpr size_t kMaxNameChars = 149;

size_t CountChars(const std::string& strUtf8) {
    size_t n = 0;
    for (unsigned char c : strUtf8) {
        n += IsUtf8LeadByte(c) ? 1 : 0;
    }
    return n;
}

// The name readers take the first "COM" and the first ")" of a name, so a product
// text that holds either would make its own port number unreadable.
std::string ReadableDescription(std::string strText) {
    for (char& c : strText) {
        c = c == '(' ? '[' : c == ')' ? ']' : c;
    }
    for (size_t n = strText.find("COM"); n != std::string::npos; n = strText.find("COM", n)) {
        strText.replace(n, 3, "Com");
    }
    return strText;
}

std::string ListedName(const std::string& strDescription, int nPort) {
    return strDescription + " (COM" + std::to_string(nPort) + ")";
}

constexpr uint32_t kPollMs = 100;
constexpr uint32_t kReopenPauseMs = 200;
constexpr uint32_t kReopenLimitMs = 5000;
constexpr uint32_t kGonePauseMs = 25; // keeps the unbounded wait off the CPU

} // namespace

std::string SysRoot() {
    const char* psz = std::getenv("FWUP_SYSROOT");
    return psz != nullptr && *psz != '\0' ? psz : "/";
}

std::vector<PortRecord> ScanPorts() {
    return ScanPortsBelow(SysRoot());
}

std::vector<PortRecord> ScanPortsBelow(const std::string& strRoot) {
    std::vector<PortRecord> ports;
    CPortNumberTable& table = CPortNumberTable::Instance();
    for (const UsbTty& tty : ScanUsbTtys(strRoot)) {
        // Too long a name is left out without taking a number. A port the system
        // numbers itself (Windows) keeps the system's number.
        const bool bSystemNumber = tty.nPort > 0;
        if (CountChars(ListedName(ReadableDescription(tty.strDescription),
                                  bSystemNumber ? tty.nPort : table.PeekNumber(tty.strConnector))) >
            kMaxNameChars) {
            continue;
        }
        PortRecord entry;
        entry.nPort = bSystemNumber ? tty.nPort : table.NumberFor(tty.strConnector);
        entry.strDescription = ReadableDescription(tty.strDescription);
        entry.strName = ListedName(entry.strDescription, entry.nPort);
        entry.strDeviceNode = tty.strNode;
        entry.strConnector = tty.strConnector;
        ports.push_back(std::move(entry));
    }
    return ports;
}

std::vector<std::string> EnumeratePorts() {
    std::vector<std::string> names;
    for (PortRecord& entry : ScanPorts()) {
        names.push_back(std::move(entry.strName));
    }
    return names;
}

std::string DeviceNodeForPort(int nPort) {
    for (PortRecord& entry : ScanPorts()) {
        if (entry.nPort == nPort) {
            return std::move(entry.strDeviceNode);
        }
    }
    return {};
}

std::string PortDescriptionFromName(const std::string& strName) {
    const size_t nCom = strName.find("COM");
    if (nCom == std::string::npos || nCom == 0) {
        return {};
    }
    if (strName[nCom - 1] == '(') {
        return strName.substr(0, nCom - 1);
    }
    const size_t nOpen = strName.find('(');
    if (nOpen == std::string::npos) {
        return {};
    }
    const size_t nClose = strName.find(')', nOpen);
    if (nClose == std::string::npos) {
        return {};
    }
    return strName.substr(nOpen + 1, nClose - nOpen - 1);
}

std::vector<PortRecord> CComPort::ListPorts() const {
    return m_pWatcher != nullptr ? m_pWatcher->Snapshot() : ScanPorts();
}

uint64_t CComPort::DepartureMark() const {
    return m_pWatcher != nullptr ? m_pWatcher->Departures(m_nPort) : 0;
}

bool CComPort::HasLeftSince(uint64_t nMark) const {
    return m_pWatcher != nullptr && m_pWatcher->Departures(m_nPort) != nMark;
}

void CComPort::WaitForListChange(uint32_t dwMs) const {
    if (m_pWatcher == nullptr) {
        SleepMs(dwMs);
        return;
    }
    uint64_t nGeneration = 0;
    m_pWatcher->Snapshot(&nGeneration);
    m_pWatcher->WaitForChange(nGeneration, dwMs);
}

bool CComPort::IsPresent() const {
    for (const PortRecord& record : ListPorts()) {
        if (!m_strDeviceName.empty() && record.strName == m_strDeviceName) {
            return true;
        }
        if (record.nPort == m_nPort) {
            return true;
        }
    }
    return false;
}

bool CComPort::WaitOpen(uint32_t dwTimeoutMs) {
    const uint32_t dwStart = GetTickCount();
    if (IsOpen()) {
        return true;
    }
    while (TicksSince(dwStart) < dwTimeoutMs) {
        WaitForListChange(kPollMs);
        if (IsPresent()) {
            Open(m_nPort);
        }
        if (IsOpen()) {
            break;
        }
    }
    return IsOpen();
}

void CComPort::CloseAndWaitGone(bool bWait) {
    Close();
    if (!bWait || m_strDeviceName.empty()) {
        return;
    }
    const uint64_t nMark = DepartureMark();
    while (IsPresent() && !HasLeftSince(nMark)) {
        WaitForListChange(kGonePauseMs);
    }
}

void CComPort::Reopen() {
    Close();
    SleepMs(kReopenPauseMs);
    WaitOpen(kReopenLimitMs);
}

} // namespace fwup
