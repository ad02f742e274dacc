#include "device/CBlockLoader.h"

#include "device/Packets.h"
#include "device/PortWait.h"
#include "serial/Clock.h"
#include "serial/DebugChannel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace fwup {

namespace {

constexpr uint32_t kReplySize = 16;
constexpr uint32_t kHandshakeStatus = 14;
constexpr uint32_t kBlockAccepted = 0;
constexpr uint32_t kMinMaxPacketWords = 6;     // 24 bytes: room for 4 data bytes
constexpr uint32_t kMaxMaxPacketWords = 65537; // length field L - 2 must fit in 16 bits

// Reads until the link's buffer holds nWanted bytes or the deadline passes.
int ReceiveUpTo(CDeviceLink& link, uint32_t nWanted, uint32_t dwDeadline) {
    CComPort& port = link.Port();
    while (link.m_nReceived < nWanted) {
        uint32_t nRead = nWanted - link.m_nReceived;
        const uint32_t dwError = port.Read(link.m_receive.data() + link.m_nReceived, nRead);
        if (dwError != 0) {
            return static_cast<int>(dwError);
        }
        link.m_nReceived += nRead;
        if (nRead == 0) {
            const uint32_t dwLeft = TicksUntil(dwDeadline);
            if (dwLeft == 0) {
                return kRecvTimeout;
            }
            // In slices: a wait that sees a hang-up sleeps out its whole span, and a
            // vanished device should end the download at once, not at the deadline.
            WaitForInput(port, std::min(dwLeft, link.Timings().nHangupCheckMs));
        }
    }
    return 0;
}

// Where Download's progress goes: the request's status, then the job's observer.
struct ProgressTarget {
    UpdateRequest& request;
    IStageObserver& observer;
};

int ProgressToObserver(void* pContext, int nPercent) {
    auto& target = *static_cast<ProgressTarget*>(pContext);
    target.request.status.nProgress = nPercent;
    target.observer.OnStage(StageProgress, target.request.status);
    return 0;
}

// Takes in one 16-byte reply: 0, or the download's error code.
int TakeReply(CDeviceLink& link, uint8_t (&reply)[kReplySize], DownloadTrace& trace) {
    std::memset(reply, 0, sizeof reply);
    uint32_t nCount = kReplySize;
    if (const int nResult = ReceivePacket(link, reply, nCount); nResult != 0) {
        trace.nErrno = nResult > 1 ? nResult : 0;
        return nResult - 10000;
    }
    if (nCount < kReplySize) {
        return kDlShortReply;
    }
    trace.nDeviceStatus = static_cast<int>(ReadLe32(reply + 12));
    return 0;
}

// Writes a whole packet, then takes in its reply: 0, or the download's error code.
int SendAndTakeReply(CDeviceLink& link, const uint8_t* pPacket, int32_t nBytes,
                     uint8_t (&reply)[kReplySize], DownloadTrace& trace) {
    if (const int nError = WriteAll(link, pPacket, nBytes); nError != 0) {
        trace.nErrno = nError;
        return nError - 10000;
    }
    return TakeReply(link, reply, trace);
}

} // namespace

int SendCommand(CDeviceLink& link, uint16_t nCode, uint32_t dwArgument) {
    const auto packet = BuildCommandPacket(nCode, dwArgument);
    uint32_t nWritten = 0;
    return WriteCompletely(link, packet.data(), 8, nWritten,
                           link.Timings().nPacketMs + WireTimeMs(8));
}

int WriteAll(CDeviceLink& link, const void* pData, int32_t& nCount) {
    if (nCount <= 0) {
        nCount = 0;
        return 0;
    }
    uint32_t nWritten = 0;
    // The packet's wait plus its wire time: a reader that takes nothing for that
    // long has stopped reading.
    const uint32_t nLength = static_cast<uint32_t>(nCount);
    const int nError = WriteCompletely(link, pData, nLength, nWritten,
                                       link.Timings().nPacketMs + WireTimeMs(nLength));
    nCount = static_cast<int32_t>(nWritten);
    return nError;
}

int ReceivePacket(CDeviceLink& link, uint8_t* pBuffer, uint32_t& nCount, uint32_t dwTimeoutMs) {
    const uint32_t nCapacity = nCount;
    nCount = 0;
    link.m_nReceived = 0;
    link.m_nPacketLength = 0;
    const uint32_t dwDeadline = GetTickCount() + dwTimeoutMs;
    if (const int nResult = ReceiveUpTo(link, kPacketHeaderSize, dwDeadline); nResult != 0) {
        return nResult;
    }
    const uint32_t nLength = DevicePacketLength(link.m_receive.data());
    if (nLength > kReceiveBufferSize) {
        // Never read past the buffer; the stream is out of step from here on.
        link.m_nPacketLength = nLength;
        return kRecvOverlong;
    }
    if (const int nResult = ReceiveUpTo(link, nLength, dwDeadline); nResult != 0) {
        return nResult;
    }
    link.m_nPacketLength = nLength;
    nCount = std::min(nLength, nCapacity);
    std::memcpy(pBuffer, link.m_receive.data(), nCount);
    return nLength > nCapacity ? 1 : 0;
}

int ReceivePacket(CDeviceLink& link, uint8_t* pBuffer, uint32_t& nCount) {
    return ReceivePacket(link, pBuffer, nCount, link.Timings().nPacketMs);
}

uint32_t LastPacketLength(const CDeviceLink& link) {
    return link.m_nPacketLength;
}

const uint8_t* LastPacketData(const CDeviceLink& link) {
    return link.m_receive.data();
}

CBlockLoader::CBlockLoader(CDeviceLink& link) : m_link(link) {}

CBlockLoader::~CBlockLoader() = default;

int CBlockLoader::Download(UpdateRequest& request, IStageObserver& observer,
                           const ImageSegment* pFirst, uint32_t dwAreaFlags) {
    std::vector<SegmentDesc> table;
    int64_t nTotal = 0;
    for (const ImageSegment* p = pFirst; p != nullptr; p = p->pNext.get()) {
        const int32_t nLength = std::max<int32_t>(0, p->nLength);
        table.push_back({p->dwAddress, nLength, p->pData.data(), 0});
        nTotal += nLength;
    }
    m_nTotal = static_cast<int32_t>(nTotal);
    m_nSent = 0;
    m_trace = DownloadTrace{};
    if (const int nError = SendCommand(m_link, kCmdAreaFlags, dwAreaFlags); nError != 0) {
        m_trace.nErrno = nError;
        return nError;
    }
    ProgressTarget target{request, observer};
    m_pfnProgress = &ProgressToObserver;
    m_pProgressContext = &target;
    const int nResult = Transfer(static_cast<int>(table.size()), table.data(), dwAreaFlags);
    m_pfnProgress = nullptr; // the target lives on this call's stack
    m_pProgressContext = nullptr;
    return nResult;
}

int CBlockLoader::Transfer(int nSegments, const SegmentDesc* pTable, uint32_t dwAreaFlags) {
    CDeviceLink& link = m_link;
    const ProtocolTimings& timings = link.Timings();
    m_trace.eStep = OutcomeStep::Handshake;
    SendCommand(link, kCmdAreaFlags, dwAreaFlags);
    SendCommand(link, kCmdStart, 1);

    // Wait for the device's info packet (its maximum packet size) and its go.
    // Packets of other kinds are skipped, but a device that only ever sends those
    // must not hold the download forever.
    bool bHaveInfo = false;
    uint32_t nMaxWords = 0;
    const uint32_t dwHandshakeDeadline = GetTickCount() + timings.nHandshakeMs;
    for (;;) {
        uint8_t header[kPacketHeaderSize] = {};
        uint32_t nCount = sizeof header;
        const uint32_t dwLeft = TicksUntil(dwHandshakeDeadline);
        if (dwLeft == 0) {
            return kDlTimeout;
        }
        const int nResult =
            ReceivePacket(link, header, nCount, std::min(dwLeft, timings.nPacketMs));
        if (nResult != 0 && nResult != 1) {
            m_trace.nErrno = nResult > 1 ? nResult : 0;
            return nResult - 10000;
        }
        const uint16_t nCode = DevicePacketCode(header);
        if (nCode == kDevCodeInfo) {
            const uint32_t nLength = LastPacketLength(link);
            if (nLength > 16) {
                return kDlPacketTooLong;
            }
            if (nLength < 12) {
                return kDlShortInfo;
            }
            nMaxWords = ReadLe32(LastPacketData(link) + 8);
            bHaveInfo = true;
        } else if (nCode == kDevCodeGo) {
            if (!bHaveInfo) {
                return kDlGoBeforeInfo;
            }
            break;
        }
    }
    uint8_t reply[kReplySize] = {};
    if (const int nResult = TakeReply(link, reply, m_trace); nResult != 0) {
        return nResult;
    }
    if (ReadLe32(reply + 12) != kHandshakeStatus) {
        return kDlBadHandshake;
    }
    if (nMaxWords < kMinMaxPacketWords || nMaxWords > kMaxMaxPacketWords) {
        m_trace.nDeviceStatus = static_cast<int>(nMaxWords);
        return kDlBadMaxPacket;
    }

    std::vector<uint8_t> block(static_cast<size_t>(nMaxWords) * 4, 0);
    const uint32_t nBlockData = BlockDataSize(nMaxWords);
    const uint32_t dwFlags = dwAreaFlags & 1;
    for (int nSegment = 0; nSegment < nSegments; ++nSegment) {
        const SegmentDesc& segment = pTable[nSegment];
        const uint32_t nLength = static_cast<uint32_t>(std::max<int32_t>(0, segment.nLength));
        for (const BlockPlan& plan : PlanBlocks(segment.dwAddress, nLength, nBlockData)) {
            // Only between packets: a packet cut short would leave the boot loader
            // waiting for its rest.
            if (link.StopRequested()) {
                return kDlInterrupted;
            }
            m_trace.eStep = OutcomeStep::Block;
            ++m_trace.nBlock;
            const int32_t nBytes = static_cast<int32_t>(BuildDataPacket(
                block.data(), plan.dwAddress, segment.pData + plan.nOffset, plan.nCount, dwFlags));
            if (const int nResult = SendAndTakeReply(link, block.data(), nBytes, reply, m_trace);
                nResult != 0) {
                return nResult;
            }
            switch (const uint32_t dwStatus = ReadLe32(reply + 12)) {
            case kBlockAccepted:
                break;
            case 2:
                return kDlStatus2;
            case 5:
                return kDlStatus5;
            default:
                (void)dwStatus;
                return kDlRefused;
            }
            m_nSent += static_cast<int32_t>(plan.nCount);
            if (m_pfnProgress != nullptr && m_nTotal > 0) {
                m_pfnProgress(m_pProgressContext,
                              static_cast<int>(static_cast<int64_t>(m_nSent) * 100 / m_nTotal));
            }
            if (DebugChannelActive()) {
                const uint32_t nLeft = nLength - plan.nOffset - plan.nCount;
                char szLine[64];
                std::snprintf(szLine, sizeof szLine, "%i bytes left for block @%08x\n",
                              static_cast<int>(nLeft), segment.dwAddress);
                DebugOut(szLine);
            }
        }
    }

    m_trace.eStep = OutcomeStep::Finish;
    const auto finish = BuildFinishPacket();
    if (const int nResult = SendAndTakeReply(link, finish.data(),
                                             static_cast<int32_t>(finish.size()), reply, m_trace);
        nResult != 0) {
        return nResult;
    }
    const uint32_t dwStatus = ReadLe32(reply + 12);
    const uint32_t dwEcho = ReadLe32(reply + 8);
    return (dwStatus == 9 || dwStatus == 10) && dwEcho == 2 ? 0 : kDlRefused;
}

} // namespace fwup
