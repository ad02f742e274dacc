// Fuzzes the boot loader's receiving side over a real pty: the input is what the
// device sends. Mode 0 takes it in packet by packet with ReceivePacket and checks
// every result against an independent model of the framing; mode 1 runs a whole
// CBlockLoader::Transfer over a small segment table and checks what the host
// wrote back with the simulator's own packet checks.
//
// Input: byte 0 = mode (bit 0). Mode 0: a 16-bit word (capacity in bits 0-14,
// bit 15 a 2 ms deadline instead of none), then the device bytes.
// Mode 1: a byte of flags (bit 0 = area flag bit, bits 1-2 = segments), per segment
// a 16-bit length, an address byte and a data seed, then the device bytes.
#include "device/CBlockLoader.h"
#include "device/CDeviceLink.h"
#include "device/Packets.h"
#include "fuzz/CFuzzInput.h"
#include "fuzz/CPtyRig.h"
#include "fuzz/FuzzCheck.h"
#include "sim/SimPackets.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using fwup::fuzz::CFuzzInput;
using fwup::fuzz::CPtyRig;

// Bytes that end any receive at once: completes a pending payload (at most 248
// bytes), then a header of 0xFF announces far more than 256 bytes. So the code
// under test never waits out its 5000 ms packet deadline.
const std::string kTail(264, '\xFF');

// FWUP_FUZZ_VERBOSE=1 prints each input's outcome, for reading a reproducer.
bool Verbose() {
    static const bool bVerbose = std::getenv("FWUP_FUZZ_VERBOSE") != nullptr;
    return bVerbose;
}

uint32_t ModelLength(const uint8_t* pHeader) {
    return pHeader[0] == 0x40 ? 8u : 8u + 4u * (pHeader[4] | (pHeader[5] << 8));
}

void FuzzReceive(CFuzzInput& input) {
    CPtyRig& rig = CPtyRig::Instance();
    const uint16_t nWord = input.Word();
    const uint32_t nCapacity = (nWord & 0x7FFFu) % 300;
    // Mostly no wait at all; with the top bit a short one, so the waiting path
    // runs too (a time-out then costs 2 ms).
    const uint32_t dwTimeoutMs = (nWord & 0x8000u) != 0 ? 2 : 0;
    const std::string strStream = input.Bytes(CPtyRig::kMaxFeed);
    const auto* pStream = reinterpret_cast<const uint8_t*>(strStream.data());
    rig.Feed(strStream);

    fwup::CDeviceLink link(&rig.Port());
    size_t nPos = 0;
    for (;;) {
        std::unique_ptr<uint8_t[]> pBuffer(new uint8_t[nCapacity]);
        uint32_t nCount = nCapacity;
        const int nResult = fwup::ReceivePacket(link, pBuffer.get(), nCount, dwTimeoutMs);
        const size_t nLeft = strStream.size() - nPos;
        if (nLeft < 8) {
            FUZZ_CHECK(nResult == fwup::kRecvTimeout, "short header not a time-out");
            FUZZ_CHECK(nCount == 0, "time-out with bytes");
            return;
        }
        const uint32_t nLength = ModelLength(pStream + nPos);
        if (nLength > fwup::kReceiveBufferSize) {
            FUZZ_CHECK(nResult == fwup::kRecvOverlong, "overlong packet not refused");
            FUZZ_CHECK(nCount == 0, "overlong packet with bytes");
            FUZZ_CHECK(fwup::LastPacketLength(link) == nLength, "overlong packet's length");
            nPos += 8; // only the header is taken
            continue;
        }
        if (nLeft < nLength) {
            FUZZ_CHECK(nResult == fwup::kRecvTimeout, "short payload not a time-out");
            FUZZ_CHECK(nCount == 0, "time-out with bytes");
            return;
        }
        FUZZ_CHECK(nResult == (nLength > nCapacity ? 1 : 0), "packet result");
        FUZZ_CHECK(nCount == std::min(nLength, nCapacity), "bytes copied");
        FUZZ_CHECK(nCount <= nCapacity, "copied beyond the capacity");
        FUZZ_CHECK(nCount == 0 || std::memcmp(pBuffer.get(), pStream + nPos, nCount) == 0,
                   "packet bytes differ from the stream");
        FUZZ_CHECK(fwup::LastPacketLength(link) == nLength, "last packet's length");
        FUZZ_CHECK(std::memcmp(fwup::LastPacketData(link), pStream + nPos, nLength) == 0,
                   "last packet's bytes");
        nPos += nLength;
    }
}

struct Segment {
    uint32_t dwAddress = 0;
    std::vector<uint8_t> data;
};

struct ProgressLog {
    std::vector<int> percents;
};

int RecordProgress(void* pContext, int nPercent) {
    static_cast<ProgressLog*>(pContext)->percents.push_back(nPercent);
    return 0;
}

bool IsKnownTransferResult(int nResult) {
    switch (nResult) {
    case 0:
    case fwup::kDlPacketTooLong:
    case fwup::kDlBadHandshake:
    case fwup::kDlStatus2:
    case fwup::kDlStatus5:
    case fwup::kDlRefused:
    case fwup::kDlOverlongPacket:
    case fwup::kDlShortInfo:
    case fwup::kDlGoBeforeInfo:
    case fwup::kDlBadMaxPacket:
    case fwup::kDlShortReply:
        return true;
    default:
        return false; // a time-out cannot happen: the tail ends every receive
    }
}

void FuzzTransfer(CFuzzInput& input) {
    CPtyRig& rig = CPtyRig::Instance();
    const uint8_t nFlags = input.Byte();
    const uint32_t dwAreaFlags = fwup::kCodeAreaFlags | (nFlags & 1u);
    const int nSegments = (nFlags >> 1) & 3;
    std::vector<Segment> segments(static_cast<size_t>(nSegments));
    std::vector<fwup::SegmentDesc> table;
    int32_t nTotal = 0;
    for (int i = 0; i < nSegments; ++i) {
        Segment& segment = segments[static_cast<size_t>(i)];
        segment.data.resize(input.Word() % 700);
        segment.dwAddress = 0x108000u + 0x1000u * static_cast<uint32_t>(i) + input.Byte();
        uint8_t nSeed = input.Byte();
        for (uint8_t& b : segment.data) {
            b = nSeed;
            nSeed = static_cast<uint8_t>(nSeed * 13 + 7);
        }
        table.push_back(
            {segment.dwAddress, static_cast<int32_t>(segment.data.size()), segment.data.data(), 0});
        nTotal += static_cast<int32_t>(segment.data.size());
    }
    rig.Feed(input.Bytes(CPtyRig::kMaxFeed - kTail.size()) + kTail);

    ProgressLog progress;
    fwup::CDeviceLink link(&rig.Port());
    fwup::CBlockLoader loader(link);
    loader.m_pfnProgress = &RecordProgress;
    loader.m_pProgressContext = &progress;
    loader.m_nTotal = nTotal;
    const int nResult = loader.Transfer(nSegments, table.data(), dwAreaFlags);
    if (Verbose()) {
        std::fprintf(stderr, "transfer: result %d, sent %d of %d\n", nResult, loader.m_nSent,
                     nTotal);
    }
    FUZZ_CHECK(IsKnownTransferResult(nResult), "unknown transfer result");

    // What the host wrote: two commands, data packets in segment order, perhaps a finish.
    const std::vector<uint8_t> host = rig.TakeHostBytes();
    FUZZ_CHECK(host.size() >= 16, "the start commands are missing");
    FUZZ_CHECK(std::equal(host.begin(), host.begin() + 8,
                          fwsim::MakeHostCommand(fwsim::kCodeAreaFlags, dwAreaFlags).begin()),
               "area flags command");
    FUZZ_CHECK(std::equal(host.begin() + 8, host.begin() + 16,
                          fwsim::MakeHostCommand(fwsim::kCodeBegin, 1).begin()),
               "start command");
    size_t nPos = 16;
    size_t nSegment = 0;
    size_t nOffset = 0;
    size_t nFullBlock = 0; // data bytes of a block that is not a segment's last
    std::vector<int32_t> sentAfter;
    int32_t nSent = 0;
    bool bFinished = false;
    while (nPos < host.size()) {
        FUZZ_CHECK(!bFinished, "bytes after the finish packet");
        FUZZ_CHECK(host.size() - nPos >= 8, "partial packet header");
        const uint8_t* pPacket = host.data() + nPos;
        if (fwsim::ClassifyHeader(pPacket) == fwsim::HostPacket::Finish) {
            FUZZ_CHECK(std::equal(pPacket, pPacket + 8, fwsim::MakeHostFinish().begin()),
                       "finish packet");
            bFinished = true;
            nPos += 8;
            continue;
        }
        FUZZ_CHECK(fwsim::ClassifyHeader(pPacket) == fwsim::HostPacket::Data,
                   "neither data nor finish");
        const size_t nSize = fwsim::HostPacketSize(pPacket);
        FUZZ_CHECK(host.size() - nPos >= nSize, "partial data packet");
        fwsim::DataBlock block;
        FUZZ_CHECK(fwsim::CheckDataPacket(pPacket, nSize, 65537, 0, 0xFFFFFFFFu, block),
                   "data packet fails the device's checks (CRC, padding, flags, size)");
        FUZZ_CHECK((block.dwFlags & 1u) == (dwAreaFlags & 1u), "area flag bit");
        while (nSegment < segments.size() && nOffset == segments[nSegment].data.size()) {
            ++nSegment;
            nOffset = 0;
        }
        FUZZ_CHECK(nSegment < segments.size(), "data beyond the segments");
        const Segment& segment = segments[nSegment];
        FUZZ_CHECK(block.nLength > 0 && nOffset + block.nLength <= segment.data.size(),
                   "block outside its segment");
        FUZZ_CHECK(block.dwAddress == segment.dwAddress + nOffset, "block address");
        FUZZ_CHECK(std::memcmp(pPacket + 20, segment.data.data() + nOffset, block.nLength) == 0,
                   "block bytes differ from the segment");
        nOffset += block.nLength;
        if (nOffset < segment.data.size()) {
            FUZZ_CHECK(block.nLength % 4 == 0, "a full block with padding");
            FUZZ_CHECK(nFullBlock == 0 || nFullBlock == block.nLength, "block sizes differ");
            nFullBlock = block.nLength;
        }
        FUZZ_CHECK(nFullBlock == 0 || block.nLength <= nFullBlock, "last block too long");
        nSent += static_cast<int32_t>(block.nLength);
        sentAfter.push_back(nSent);
        nPos += nSize;
    }
    while (nSegment < segments.size() && nOffset == segments[nSegment].data.size()) {
        ++nSegment;
        nOffset = 0;
    }
    const bool bAllSent = nSegment == segments.size();
    FUZZ_CHECK(!bFinished || bAllSent, "finish before the whole image");
    FUZZ_CHECK(nResult != 0 || bFinished, "success without a finish packet");
    // Acknowledged bytes: every block sent, or all but the last when that one failed.
    const size_t nBlocks = sentAfter.size();
    FUZZ_CHECK(loader.m_nSent == (nBlocks ? sentAfter.back() : 0) ||
                   (nBlocks && loader.m_nSent == (nBlocks > 1 ? sentAfter[nBlocks - 2] : 0)),
               "acknowledged bytes");
    FUZZ_CHECK(!bFinished || loader.m_nSent == nTotal, "finish with bytes unacknowledged");
    FUZZ_CHECK(loader.m_nSent <= nTotal, "more acknowledged than the image holds");
    if (nTotal > 0) {
        // One report per accepted block, each the share acknowledged by then.
        FUZZ_CHECK(progress.percents.size() <= nBlocks, "more reports than blocks");
        for (size_t i = 0; i < progress.percents.size(); ++i) {
            FUZZ_CHECK(progress.percents[i] ==
                           static_cast<int>(int64_t{sentAfter[i]} * 100 / nTotal),
                       "progress percent");
        }
        FUZZ_CHECK(nResult != 0 || progress.percents.back() == 100, "success below 100 %");
    } else {
        FUZZ_CHECK(progress.percents.empty(), "progress for an empty image");
    }
}

} // namespace

// Scratch space and devices are made before fuzzing starts: libFuzzer then does not
// learn their paths from comparisons, and a fixed seed gives the same runs.
extern "C" int LLVMFuzzerInitialize(int* /*pArgc*/, char*** /*pArgv*/) {
    CPtyRig::Instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    CPtyRig& rig = CPtyRig::Instance();
    rig.DropUnread();
    rig.TakeHostBytes();
    CFuzzInput input(pData, nSize);
    if ((input.Byte() & 1) == 0) {
        FuzzReceive(input);
    } else {
        FuzzTransfer(input);
    }
    rig.DropUnread();
    rig.TakeHostBytes();
    return 0;
}
