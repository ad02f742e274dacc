#include "device/CommandProtocol.h"

#include "device/Packets.h"
#include "device/PortWait.h"
#include "serial/Clock.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace fwup {

namespace {

constexpr char kVersionCommand[] = "~rv\r\n";
constexpr char kSerialCommand[] = "~rS\r\n";
constexpr char kBootCommand[] = "~dboot\r\n";
constexpr char kVersionPrefix[] = "~Rv0000";
constexpr char kSerialPrefix[] = "~RS0000";
constexpr char kBootPrefix[] = "~Dboot";
constexpr char kReadyBanner[] = "~e!ready,";
constexpr uint32_t kPrefixLength = 7;

bool EndsWithLineEnd(const char* pData, uint32_t nCount) {
    return nCount >= 2 && pData[nCount - 2] == '\r' && pData[nCount - 1] == '\n';
}

// Milliseconds until "more than nLimit ms since dwStart" becomes true.
uint32_t TimeLeft(uint32_t dwStart, uint32_t nLimit) {
    const uint32_t dwPassed = TicksSince(dwStart);
    return dwPassed > nLimit ? 0 : nLimit - dwPassed + 1;
}

// The status query twice; the value of the first answer, or -1.
int32_t PingTwice(CDeviceLink& link) {
    for (int nTry = 0; nTry < 2; ++nTry) {
        uint32_t dwValue = 0;
        if (PingBootLoader(link, dwValue) == 0) {
            return static_cast<int32_t>(dwValue);
        }
    }
    return -1;
}

} // namespace

int Transact(CDeviceLink& link, const void* pCommand, uint32_t nLength, char* pReply,
             uint32_t& nCount) {
    CComPort& port = link.Port();
    const uint32_t nCommandMs = link.Timings().nCommandMs;
    const uint32_t nCapacity = nCount;
    nCount = 0;
    uint32_t nWritten = 0;
    if (const int nError = WriteCompletely(link, pCommand, nLength, nWritten, nCommandMs);
        nError != 0) {
        return nError;
    }
    const uint32_t dwStart = GetTickCount();
    if (nCapacity == 0) {
        return 0; // no room even for the terminator
    }
    uint32_t nReceived = 0;
    pReply[0] = '\0';
    for (;;) {
        if (nReceived + 1 < nCapacity) {
            // One byte per read, so bytes behind the first line end stay unread.
            uint32_t nRead = 1;
            if (port.Read(pReply + nReceived, nRead) != 0) {
                nRead = 0; // read errors count as no bytes; the deadline ends the wait
            }
            nReceived += nRead;
            pReply[nReceived] = '\0';
            if (EndsWithLineEnd(pReply, nReceived)) {
                nCount = nReceived;
                return 0;
            }
            if (nRead == 0) {
                const uint32_t dwLeft = TimeLeft(dwStart, nCommandMs);
                if (dwLeft == 0 || link.StopRequested()) {
                    return -1;
                }
                WaitForInputUnlessStopped(link, dwLeft);
                continue;
            }
        }
        if (TicksSince(dwStart) > nCommandMs) {
            return -1;
        }
        if (nReceived + 1 >= nCapacity) {
            nCount = nReceived;
            return 0;
        }
    }
}

const char* ParseVersionReply(char* pReply, uint32_t nCount) {
    if (nCount < kPrefixLength + 1 || std::memcmp(pReply, kVersionPrefix, kPrefixLength) != 0) {
        return nullptr;
    }
    pReply[nCount - 2] = '\0'; // the line end
    return pReply + kPrefixLength;
}

const char* ParseSerialReply(char* pReply, uint32_t nCount) {
    if (nCount < kPrefixLength + 1 || std::memcmp(pReply, kSerialPrefix, kPrefixLength) != 0) {
        return nullptr;
    }
    for (uint32_t i = kPrefixLength; i + 1 < nCount; ++i) {
        if (pReply[i] == '\r' && pReply[i + 1] == '\n') {
            pReply[i] = '\0';
            break;
        }
    }
    return pReply + kPrefixLength;
}

std::optional<std::string> QueryVersion(CDeviceLink& link) {
    char szReply[kReplyBufferSize];
    uint32_t nCount = kReplyBufferSize;
    if (Transact(link, kVersionCommand, 5, szReply, nCount) != 0) {
        return std::nullopt;
    }
    const char* pszText = ParseVersionReply(szReply, nCount);
    return pszText != nullptr ? std::optional<std::string>(pszText) : std::nullopt;
}

std::optional<std::string> QuerySerial(CDeviceLink& link) {
    char szReply[kReplyBufferSize];
    uint32_t nCount = kReplyBufferSize;
    if (Transact(link, kSerialCommand, 5, szReply, nCount) != 0) {
        return std::nullopt;
    }
    const char* pszText = ParseSerialReply(szReply, nCount);
    return pszText != nullptr ? std::optional<std::string>(pszText) : std::nullopt;
}

int PingBootLoader(CDeviceLink& link, uint32_t& dwValue) {
    CComPort& port = link.Port();
    const auto query = BuildStatusQuery();
    uint32_t nWritten = 0;
    if (const int nError =
            WriteCompletely(link, query.data(), 8, nWritten, link.Timings().nCommandMs);
        nError != 0) {
        return nError;
    }
    const uint32_t dwDeadline = GetTickCount() + link.Timings().nCommandMs;
    uint8_t reply[8];
    uint32_t nHave = 0;
    for (;;) {
        uint32_t nRead = 8 - nHave;
        if (port.Read(reply + nHave, nRead) != 0) {
            nRead = 0;
        }
        nHave += nRead;
        if (nHave == 8) {
            if (ParseStatusReply(reply, dwValue)) {
                return 0;
            }
            nHave = 0; // not a status reply: drop it and look at the next 8 bytes
            if (TicksUntil(dwDeadline) == 0) {
                return -1;
            }
            continue;
        }
        const uint32_t dwLeft = TicksUntil(dwDeadline);
        if (dwLeft == 0 || link.StopRequested()) {
            return -1;
        }
        if (nRead == 0) {
            WaitForInputUnlessStopped(link, dwLeft);
        }
    }
}

int EnterBootLoader(CDeviceLink& link, UpdateRequest& request) {
    CComPort& port = link.Port();
    char szReply[kReplyBufferSize];
    uint32_t nCount = kReplyBufferSize;
    const int nResult = Transact(link, kBootCommand, 8, szReply, nCount);
    if (nResult == 0 && (nCount < 6 || std::memcmp(szReply, kBootPrefix, 6) != 0)) {
        return -1; // the application refused; it keeps running on the open port
    }
    // A missing reply is no refusal: the device may already be restarting.
    port.Close();
    SleepUnlessStopped(link, link.Timings().nBootPauseMs);
    WaitOpenUnlessStopped(link, link.Timings().nBootReturnMs);
    request.nBootInfo = PingTwice(link);
    return 0;
}

int DetectDevice(CDeviceLink& link, UpdateRequest& request) {
    CComPort& port = link.Port();
    bool bOpenedHere = false;
    if (!port.IsOpen()) {
        if (!WaitOpenUnlessStopped(link, link.Timings().nDetectOpenMs)) {
            return -4;
        }
        bOpenedHere = true;
    }
    int nResult = 0;
    request.optVersion.reset();
    request.nBootInfo = PingTwice(link);
    if (request.nBootInfo == -1) {
        request.optVersion = QueryVersion(link);
    }
    if (request.optVersion) {
        request.status.optSerial = QuerySerial(link);
    }
    if (!request.optVersion && request.nBootInfo == -1) {
        nResult = -2;
    }
    // Close a port opened here; a device that stays attached never leaves the
    // port list, so waiting for that would never end.
    if (bOpenedHere) {
        port.Close();
    }
    return nResult;
}

int ExchangeBytes(GadgetChannel* pChannel, const void* pCommand, uint32_t nLength, char* pBuffer,
                  uint32_t& nCount) {
    if (pChannel == nullptr || pChannel->pLink == nullptr) {
        return EINVAL;
    }
    CComPort& port = pChannel->pLink->Port();
    const uint32_t nReadyMs = pChannel->pLink->Timings().nReadyMs;
    const uint32_t nCapacity = nCount;
    uint32_t nWritten = 0;
    if (const int nError = WriteCompletely(*pChannel->pLink, pCommand, nLength, nWritten, nReadyMs);
        nError != 0) {
        return nError;
    }
    const uint32_t dwStart = GetTickCount();
    if (nCapacity == 0) {
        nCount = 0;
        return 0;
    }
    uint32_t nReceived = 0;
    pBuffer[0] = '\0';
    for (;;) {
        uint32_t nRead = nCapacity - 1 - nReceived;
        if (nRead > 0 && port.Read(pBuffer + nReceived, nRead) != 0) {
            nRead = 0;
        }
        nReceived += nRead;
        pBuffer[nReceived] = '\0';
        if (EndsWithLineEnd(pBuffer, nReceived)) {
            nCount = nReceived;
            return 0;
        }
        if (TicksSince(dwStart) > nReadyMs || pChannel->pLink->StopRequested()) {
            return -1;
        }
        if (nReceived + 1 >= nCapacity) {
            nCount = nReceived;
            return 0;
        }
        if (nRead == 0) {
            WaitForInputUnlessStopped(*pChannel->pLink, TimeLeft(dwStart, nReadyMs));
        }
    }
}

int ExchangeText(GadgetChannel* pChannel, const std::string& strCommand, std::string& strReply) {
    std::vector<char> buffer(kExchangeBufferSize, '\0');
    uint32_t nCount = kExchangeBufferSize;
    const int nResult =
        ExchangeBytes(pChannel, strCommand.data(), static_cast<uint32_t>(strCommand.size()),
                      buffer.data(), nCount);
    strReply.assign(buffer.data()); // up to the first zero byte, also after a time-out
    return nResult;
}

std::string ParseReadyLine(const std::string& strLine, bool bTimedOut) {
    if (bTimedOut) {
        return strLine;
    }
    std::string strText = strLine;
    if (const size_t nBanner = strText.find(kReadyBanner); nBanner != std::string::npos) {
        strText.erase(0, nBanner + std::strlen(kReadyBanner));
    }
    if (const size_t nEnd = strText.find("\r\n"); nEnd != std::string::npos) {
        strText.erase(nEnd);
    }
    return strText;
}

} // namespace fwup
