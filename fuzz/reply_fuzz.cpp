// Fuzzes the application firmware's replies: the pure parsers on the input, and
// one of the port-based exchanges over a real pty with the input as the device's
// answer. Every result is checked against a model of the wire format written
// here: where the reply ends, what text is handed back, that pointers stay inside
// their buffers, texts are zero-terminated and counts stay within capacities.
//
// Input: byte 0 = exchange (Transact, QueryVersion, QuerySerial, ExchangeBytes,
// ExchangeText/WaitReady, PingBootLoader), a 16-bit capacity, then the reply bytes.
// The device ends every reply with CR LF (and the status query with a status
// reply), so no exchange waits out its deadline.
#include "device/CDeviceLink.h"
#include "device/CGadgetLib.h"
#include "device/CommandProtocol.h"
#include "fuzz/CFuzzInput.h"
#include "fuzz/CPtyRig.h"
#include "fuzz/FuzzCheck.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using fwup::fuzz::CFuzzInput;
using fwup::fuzz::CPtyRig;

// Text up to the first zero byte, as a C string reads it.
std::string UpToZero(const std::string& strText) {
    return strText.substr(0, strText.find('\0'));
}

// Bytes Transact takes in: up to and including the first CR LF, at most
// nCapacity - 1 (a full buffer ends the reply too).
size_t ModelReplyLength(const std::string& strDevice, uint32_t nCapacity) {
    if (nCapacity <= 1) {
        return 0;
    }
    const size_t nEnd = strDevice.find("\r\n");
    const size_t nLine = nEnd == std::string::npos ? strDevice.size() : nEnd + 2;
    return std::min<size_t>(nLine, nCapacity - 1);
}

bool EndsWithCrLf(const std::string& strText) {
    return strText.size() >= 2 && strText.compare(strText.size() - 2, 2, "\r\n") == 0;
}

std::string HostText(CPtyRig& rig) {
    const std::vector<uint8_t> bytes = rig.TakeHostBytes();
    return std::string(bytes.begin(), bytes.end());
}

// The pure parsers, on the input as a received reply of its own length.
void CheckParsers(const std::string& strReply, bool bTimedOut) {
    const uint32_t nCount = static_cast<uint32_t>(strReply.size());
    for (const bool bVersion : {true, false}) {
        // Exactly nCount bytes plus the terminator: any read past it is caught.
        std::unique_ptr<char[]> pBuffer(new char[nCount + 1]);
        std::memcpy(pBuffer.get(), strReply.data(), nCount);
        pBuffer[nCount] = '\0';
        const char* pszText = bVersion ? fwup::ParseVersionReply(pBuffer.get(), nCount)
                                       : fwup::ParseSerialReply(pBuffer.get(), nCount);
        const bool bPrefix =
            nCount >= 8 && strReply.compare(0, 7, bVersion ? "~Rv0000" : "~RS0000") == 0;
        FUZZ_CHECK((pszText != nullptr) == bPrefix, "parser accepts exactly the prefix");
        if (pszText == nullptr) {
            continue;
        }
        FUZZ_CHECK(pszText == pBuffer.get() + 7, "text starts behind the prefix");
        std::string strExpected;
        if (bVersion) {
            strExpected = strReply.substr(7, nCount - 2 - 7); // the line end is cut off
        } else {
            const size_t nEnd = strReply.find("\r\n", 7);
            strExpected =
                strReply.substr(7, nEnd == std::string::npos ? std::string::npos : nEnd - 7);
        }
        FUZZ_CHECK(std::string(pszText) == UpToZero(strExpected), "parsed text");
    }
    const std::string strReady = fwup::ParseReadyLine(strReply, bTimedOut);
    if (bTimedOut) {
        FUZZ_CHECK(strReady == strReply, "a timed-out line is handed back unchanged");
    } else {
        FUZZ_CHECK(strReply.find(strReady) != std::string::npos, "ready text not from the line");
        FUZZ_CHECK(strReady.find("\r\n") == std::string::npos, "ready text keeps a line end");
        if (strReply.find("~e!ready,") == std::string::npos &&
            strReply.find("\r\n") == std::string::npos) {
            FUZZ_CHECK(strReady == strReply, "a plain line changed");
        }
    }
}

void FuzzTransact(CPtyRig& rig, uint32_t nCapacity, const std::string& strDevice) {
    fwup::CDeviceLink link(&rig.Port());
    std::unique_ptr<char[]> pReply(new char[nCapacity]);
    uint32_t nCount = nCapacity;
    const int nResult = fwup::Transact(link, "~rv\r\n", 5, pReply.get(), nCount);
    FUZZ_CHECK(nResult == 0, "Transact failed with a reply at hand");
    FUZZ_CHECK(HostText(rig) == "~rv\r\n", "command bytes");
    const size_t nExpected = ModelReplyLength(strDevice, nCapacity);
    FUZZ_CHECK(nCount == nExpected, "reply length");
    FUZZ_CHECK(nCapacity == 0 || nCount < nCapacity, "reply fills the terminator's place");
    if (nCapacity > 0) {
        FUZZ_CHECK(pReply[nCount] == '\0', "reply not terminated");
        FUZZ_CHECK(std::memcmp(pReply.get(), strDevice.data(), nCount) == 0, "reply bytes");
    }
}

void FuzzQuery(CPtyRig& rig, bool bVersion, const std::string& strDevice) {
    fwup::CDeviceLink link(&rig.Port());
    const std::optional<std::string> optText =
        bVersion ? fwup::QueryVersion(link) : fwup::QuerySerial(link);
    FUZZ_CHECK(HostText(rig) == (bVersion ? "~rv\r\n" : "~rS\r\n"), "query bytes");
    const std::string strReply =
        strDevice.substr(0, ModelReplyLength(strDevice, fwup::kReplyBufferSize));
    const bool bPrefix =
        strReply.size() >= 8 && strReply.compare(0, 7, bVersion ? "~Rv0000" : "~RS0000") == 0;
    FUZZ_CHECK(optText.has_value() == bPrefix, "query accepts exactly the prefix");
    if (!optText) {
        return;
    }
    const char* pszText = optText->c_str();
    const size_t nText = optText->size();
    FUZZ_CHECK(nText + 7 < fwup::kReplyBufferSize, "text longer than its buffer");
    std::string strExpected;
    if (bVersion) {
        strExpected = strReply.substr(7, strReply.size() - 2 - 7);
    } else {
        strExpected = strReply.substr(7, EndsWithCrLf(strReply) ? strReply.size() - 2 - 7
                                                                : std::string::npos);
    }
    FUZZ_CHECK(std::string(pszText, nText) == UpToZero(strExpected), "query text");
}

void FuzzExchangeBytes(CPtyRig& rig, uint32_t nCapacity, const std::string& strDevice) {
    fwup::CDeviceLink link(&rig.Port());
    fwup::GadgetChannel channel{&link};
    std::unique_ptr<char[]> pBuffer(new char[nCapacity]);
    uint32_t nCount = nCapacity;
    const int nResult = fwup::ExchangeBytes(&channel, "~x\r\n", 4, pBuffer.get(), nCount);
    FUZZ_CHECK(nResult == 0, "ExchangeBytes failed with a reply at hand");
    FUZZ_CHECK(HostText(rig) == "~x\r\n", "command bytes");
    if (nCapacity == 0) {
        FUZZ_CHECK(nCount == 0, "bytes without a buffer");
        return;
    }
    FUZZ_CHECK(nCount < nCapacity, "reply fills the terminator's place");
    FUZZ_CHECK(pBuffer[nCount] == '\0', "reply not terminated");
    const std::string strReply(pBuffer.get(), nCount);
    FUZZ_CHECK(strDevice.compare(0, nCount, strReply) == 0, "reply bytes");
    FUZZ_CHECK(EndsWithCrLf(strReply) || nCount == nCapacity - 1, "reply ended early");
}

void FuzzWaitReady(CPtyRig& rig, bool bRaw, const std::string& strDevice) {
    fwup::CDeviceLink link(&rig.Port());
    fwup::GadgetChannel channel{&link};
    std::string strReply;
    if (bRaw) {
        const int nResult = fwup::ExchangeText(&channel, "~rS\r\n", strReply);
        FUZZ_CHECK(nResult == 0, "ExchangeText failed with a reply at hand");
        FUZZ_CHECK(HostText(rig) == "~rS\r\n", "command bytes");
        FUZZ_CHECK(strReply.size() < fwup::kExchangeBufferSize, "reply beyond the buffer");
        FUZZ_CHECK(strDevice.compare(0, strReply.size(), strReply) == 0, "reply bytes");
        FUZZ_CHECK(strReply.find('\0') == std::string::npos, "zero byte in the text");
        return;
    }
    fwup::CGadgetLib gadget;
    strReply = gadget.SetChannel(&channel);
    FUZZ_CHECK(HostText(rig).empty(), "listening wrote bytes");
    FUZZ_CHECK(strDevice.find(strReply) != std::string::npos, "ready text not from the line");
    FUZZ_CHECK(strReply.find("\r\n") == std::string::npos, "ready text keeps a line end");
}

void FuzzPing(CPtyRig& rig, const std::string& strInput) {
    // Whole 8-byte packets, then a status reply so the query always ends.
    std::string strDevice = strInput + std::string((8 - strInput.size() % 8) % 8, '\0');
    strDevice += std::string("\0\0\x0f\0\x78\x56\x34\x12", 8);
    rig.Feed(strDevice);
    fwup::CDeviceLink link(&rig.Port());
    uint32_t dwValue = 0;
    const int nResult = fwup::PingBootLoader(link, dwValue);
    FUZZ_CHECK(nResult == 0, "status query unanswered");
    FUZZ_CHECK(HostText(rig) == std::string("\0\0\x0f\0\0\0\0\0", 8), "status query bytes");
    const auto* p = reinterpret_cast<const uint8_t*>(strDevice.data());
    for (size_t i = 0; i + 8 <= strDevice.size(); i += 8) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 15 && p[i + 3] == 0) {
            const uint32_t dwExpected = p[i + 4] | (p[i + 5] << 8) | (p[i + 6] << 16) |
                                        (static_cast<uint32_t>(p[i + 7]) << 24);
            FUZZ_CHECK(dwValue == dwExpected, "status value of the first status reply");
            return;
        }
    }
    FUZZ_CHECK(false, "no status reply in the model");
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
    const uint8_t nOp = input.Byte();
    const uint16_t nWord = input.Word();
    const std::string strInput = input.Bytes(CPtyRig::kMaxFeed - 16);
    CheckParsers(strInput, (nWord & 1) != 0);

    const std::string strDevice = strInput + "\r\n";
    switch (nOp % 6) {
    case 0:
        rig.Feed(strDevice);
        FuzzTransact(rig, nWord % 260, strDevice);
        break;
    case 1:
    case 2:
        rig.Feed(strDevice);
        FuzzQuery(rig, nOp % 6 == 1, strDevice);
        break;
    case 3:
        rig.Feed(strDevice);
        FuzzExchangeBytes(rig, nWord % 2600, strDevice);
        break;
    case 4:
        rig.Feed(strDevice);
        FuzzWaitReady(rig, (nWord & 2) != 0, strDevice);
        break;
    default:
        FuzzPing(rig, strInput);
        break;
    }
    rig.DropUnread();
    rig.TakeHostBytes();
    return 0;
}
