#include "serial/CComPort.h"

#include "serial/DebugChannel.h"
#include "serial/PortDiscovery.h"
#include "serial/SerialPlatform.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>

namespace fwup {

CComPort::CComPort(const std::string& strDeviceName, uint32_t dwOutQueue, uint32_t dwInQueue)
    : m_dwInQueue(dwInQueue), m_dwOutQueue(dwOutQueue), m_strDeviceName(strDeviceName),
      m_nPort(PortNumberFromName(strDeviceName)) {
    Open(m_nPort);
}

CComPort::CComPort(const PortRecord& record)
    : m_strDeviceName(record.strName), m_nPort(record.nPort) {
    Open(record);
}

CComPort::~CComPort() {
    Close();
}

intptr_t CComPort::Open(int nPort) {
    m_nOpenedPort = nPort;
    Close();
    std::string strNode;
    for (const PortRecord& record : ListPorts()) {
        if (record.nPort == nPort) {
            strNode = record.strDeviceNode;
            break;
        }
    }
    if (strNode.empty()) {
        m_openError = PortOpenError{PortOpenProblem::NotListed, ENOENT, {}, nPort, {}};
        errno = ENOENT;
        return kClosedPortHandle;
    }
    return OpenNode(strNode);
}

intptr_t CComPort::Open(const PortRecord& record) {
    m_nOpenedPort = record.nPort;
    Close();
    return OpenNode(record.strDeviceNode);
}

intptr_t CComPort::OpenNode(const std::string& strNode) {
    SerialHandle handle;
    const uint32_t dwError = SerialOpen(strNode, m_dwInQueue, m_dwOutQueue, handle);
    if (dwError != 0) {
        m_openError = MakeOpenError(dwError, strNode, m_nOpenedPort);
        errno = static_cast<int>(dwError);
        return kClosedPortHandle;
    }
    // Whoever opened the node before us (ModemManager probing, a terminal program)
    // would read the reader's replies: refuse the port as busy and name them.
    if (std::vector<PortHolder> holders = FindEarlierHolders(strNode); !holders.empty()) {
        SerialClose(handle);
        m_openError = MakeOpenError(EBUSY, strNode, m_nOpenedPort);
        m_openError.earlierHolders = std::move(holders);
        errno = EBUSY;
        return kClosedPortHandle;
    }
    m_openError = PortOpenError{};
    m_hComm = handle.hNative;
    m_nDeviceId = handle.nDeviceId;
    m_strDeviceNode = strNode;
    return m_hComm;
}

void CComPort::Close() {
    if (!IsOpen()) {
        return;
    }
    SerialHandle handle{m_hComm, m_nDeviceId};
    m_hComm = kClosedPortHandle;
    SerialClose(handle);
}

uint32_t CComPort::Read(void* pBuffer, uint32_t& nBytes) {
    if (!IsOpen()) {
        nBytes = 0;
        return EBADF;
    }
    const uint32_t dwError = SerialRead(SerialHandle{m_hComm, m_nDeviceId}, pBuffer, nBytes);
    m_totalBytesRead += nBytes;
    TraceBytes("Rx : ", static_cast<const uint8_t*>(pBuffer), nBytes);
    return dwError;
}

uint32_t CComPort::Write(const void* pBuffer, uint32_t& nBytes, uint32_t dwTimeoutMs) {
    if (!IsOpen()) {
        nBytes = 0;
        return EBADF;
    }
    const uint32_t dwError =
        SerialWrite(SerialHandle{m_hComm, m_nDeviceId}, pBuffer, nBytes, dwTimeoutMs);
    TraceBytes("Tx : ", static_cast<const uint8_t*>(pBuffer), nBytes);
    return dwError;
}

bool CComPort::WaitReadable(uint32_t dwTimeoutMs) const {
    if (!IsOpen()) {
        return false;
    }
    return SerialWaitReadable(SerialHandle{m_hComm, m_nDeviceId}, dwTimeoutMs);
}

std::string CComPort::GetLabel() const {
    if (!m_strDeviceName.empty()) {
        return m_strDeviceName;
    }
    return "COM" + std::to_string(m_nPort);
}

namespace {

// Reads a decimal integer as _wtoi does: blanks, an optional sign, then digits.
int LeadingInteger(const std::string& strText) {
    size_t i = 0;
    while (i < strText.size() && std::isspace(static_cast<unsigned char>(strText[i]))) {
        ++i;
    }
    bool bNegative = false;
    if (i < strText.size() && (strText[i] == '+' || strText[i] == '-')) {
        bNegative = strText[i] == '-';
        ++i;
    }
    long long nValue = 0;
    for (; i < strText.size() && std::isdigit(static_cast<unsigned char>(strText[i])); ++i) {
        nValue = nValue * 10 + (strText[i] - '0');
        if (nValue > INT_MAX) {
            nValue = static_cast<long long>(INT_MAX) + 1; // saturate, sign applied below
        }
    }
    if (bNegative) {
        nValue = -nValue;
    }
    if (nValue > INT_MAX) {
        return INT_MAX;
    }
    return static_cast<int>(nValue < INT_MIN ? INT_MIN : nValue);
}

} // namespace

int CComPort::PortNumberFromName(const std::string& strName) {
    const size_t nCom = strName.find("COM");
    if (nCom == std::string::npos || nCom == 0) {
        return 0;
    }
    const size_t nEnd = strName[nCom - 1] == '(' ? strName.find(')') : strName.find('(');
    const size_t nStart = nCom + 3;
    if (nEnd == std::string::npos || nEnd < nStart) {
        return 0;
    }
    return LeadingInteger(strName.substr(nStart, nEnd - nStart));
}

int CComPort::PortNumberFromLabel(const std::string& strLabel) {
    // Read through the listed-name parser, then require the label to be exactly
    // what that number prints as, so "COM5x" or "COM05" name nothing.
    const int nPort = PortNumberFromName("(" + strLabel + ")");
    return nPort > 0 && strLabel == "COM" + std::to_string(nPort) ? nPort : 0;
}

void TraceBytes(const char* pszPrefix, const uint8_t* pData, uint32_t nCount) {
    if (nCount == 0 || !DebugChannelActive()) {
        return;
    }
    for (uint32_t nDone = 0; nDone < nCount;) {
        std::string strLine = pszPrefix;
        const uint32_t nLine = nCount - nDone < 16 ? nCount - nDone : 16;
        for (uint32_t i = 0; i < nLine; ++i) {
            char szHex[4];
            std::snprintf(szHex, sizeof szHex, "%02x ", pData[nDone + i]);
            strLine += szHex;
        }
        strLine += '\n';
        DebugOut(strLine);
        nDone += nLine;
    }
}

} // namespace fwup
