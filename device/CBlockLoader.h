#pragma once
// CBlockLoader: downloads an image into a device that runs its boot loader
// (handshake, CRC-protected data packets sized to the device's maximum packet,
// finish), reporting progress after every accepted block. Also the packet I/O it
// is built on.
//
// Download results: 0 = whole image accepted and finish confirmed; a positive
// errno = writing the first command failed; errno - 10000 = a read or write failed
// during the transfer; and the codes below.

#include "device/CDeviceLink.h"
#include "device/IStageObserver.h"
#include "device/UpdateOutcome.h"
#include "device/UpdateRequest.h"

#include <cstdint>
#include <memory>

namespace fwup {

inline constexpr int kDlPacketTooLong = -9999; // packet longer than the buffer it was read into
inline constexpr int kDlBadHandshake = -10014; // handshake reply without 14 at bytes 12-15
inline constexpr int kDlStatus2 = -9978;       // a block answered with status 2
inline constexpr int kDlStatus5 = -9979;       // a block answered with status 5
inline constexpr int kDlRefused = -9997;       // other block status, or finish not confirmed
// No whole packet within the packet wait, or no go packet within the handshake wait.
inline constexpr int kDlTimeout = -10001;
inline constexpr int kDlOverlongPacket = -10002; // device packet over the 256-byte receive buffer
inline constexpr int kDlShortInfo = -10003;      // info packet without bytes 8-11
inline constexpr int kDlGoBeforeInfo = -10004;   // go packet before any info packet
inline constexpr int kDlBadMaxPacket = -10005;   // L <= 5 (no room for data) or L > 65537
inline constexpr int kDlShortReply = -10006;     // a reply shorter than its 16 bytes
inline constexpr int kDlInterrupted = -10020;    // stopped on request between two packets

// ReceivePacket results beyond 0, 1 and errno.
inline constexpr int kRecvTimeout = -1;
inline constexpr int kRecvOverlong = -2;

// The packet wait (ProtocolTimings::nPacketMs, 5000 ms) is the longest reply time
// the device's protocols grant anywhere (the ready line); far above a 256-byte
// packet's wire time and a block's flash time, so only a silent device reaches it.
// The handshake wait (nHandshakeMs) bounds the info and go packets however many
// other packets come.

// Writes one 8-byte command packet completely. 0 or the errno of the failed write.
int SendCommand(CDeviceLink& link, uint16_t nCode, uint32_t dwArgument);
// Writes nCount bytes completely; nCount out: bytes written. <= 0 writes nothing.
int WriteAll(CDeviceLink& link, const void* pData, int32_t& nCount);
// Takes in one whole device packet within dwTimeoutMs into the link's receive
// buffer. nCount: in, the caller's capacity; out, bytes copied. 0 = fitted; 1 =
// longer than the caller's buffer (first nCount bytes copied, the rest consumed);
// kRecvTimeout; kRecvOverlong (the header announced more than 256 bytes; the
// payload is not read); or the errno of a failed read (a hang-up is EIO).
int ReceivePacket(CDeviceLink& link, uint8_t* pBuffer, uint32_t& nCount, uint32_t dwTimeoutMs);
// ReceivePacket with the link's packet wait.
int ReceivePacket(CDeviceLink& link, uint8_t* pBuffer, uint32_t& nCount);
// The last packet ReceivePacket took in on this link: its full length and bytes
// (at most 256 kept).
uint32_t LastPacketLength(const CDeviceLink& link);
const uint8_t* LastPacketData(const CDeviceLink& link);

// One entry of the segment table Download builds from the image list.
struct SegmentDesc {
    uint32_t dwAddress = 0;
    int32_t nLength = 0;
    const uint8_t* pData = nullptr; // borrowed from the segment
    uint32_t dwReserved = 0;
};

// Progress hook: context and percent (0..100). Result ignored.
using ProgressHook = int (*)(void* pContext, int nPercent);

// Where a failed download stopped, for the outcome's detail.
struct DownloadTrace {
    OutcomeStep eStep = OutcomeStep::Handshake;
    int nBlock = 0;         // data packet number from 1 (the one in flight)
    int nErrno = 0;         // errno of the failed read or write, 0 when none
    int nDeviceStatus = -1; // the last status word the device answered
};

class CBlockLoader {
public:
    // Borrows the link (port, timings, receive buffer) for its lifetime.
    explicit CBlockLoader(CDeviceLink& link);
    ~CBlockLoader();
    CBlockLoader(const CBlockLoader&) = delete;
    CBlockLoader& operator=(const CBlockLoader&) = delete;

    // Sends the image list from pFirst; the hook sets request.status.nProgress and
    // reports StageProgress to observer (borrowed for the call).
    int Download(UpdateRequest& request, IStageObserver& observer, const ImageSegment* pFirst,
                 uint32_t dwAreaFlags);
    // Handshake, blocks and finish over a segment table (m_nTotal set by the caller).
    int Transfer(int nSegments, const SegmentDesc* pTable, uint32_t dwAreaFlags);

    CDeviceLink& m_link;
    DownloadTrace m_trace;
    ProgressHook m_pfnProgress = nullptr;
    void* m_pProgressContext = nullptr;
    int32_t m_nTotal = 0; // bytes of all segments
    int32_t m_nSent = 0;  // data bytes acknowledged
};

} // namespace fwup
