#include "sim/CSimDevice.h"

#include "sim/CCommandParser.h"
#include "sim/CPacketFramer.h"
#include "sim/CVirtualPort.h"
#include "sim/SimPackets.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>

namespace fwsim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A host packet that stops arriving half-way is given up after this pause; a
// data packet is then refused, anything else dropped. Keeps a bad length field
// from leaving both sides waiting for ever.
constexpr milliseconds kPacketGap{500};
// How long a last reply may take to reach the host before the port drops off.
constexpr int kDrainMs = 250;
// Printable noise before the ready line: no '~', no CR, no LF, no zero byte.
constexpr char kNoise[] = "#%&*+=?@$!";

} // namespace

struct CSimDevice::Impl {
    SimDeviceConfig config;
    CVirtualPort port;
    std::thread thread;

    mutable std::mutex mutex;
    mutable std::condition_variable cv;
    // Operator requests, carried out on the device thread.
    bool bStopRequest = false;
    bool bUnplugRequest = false;
    bool bReplugRequest = false;
    uint64_t nRequestsDone = 0;
    bool bReplugResult = false;
    // Shared results.
    std::vector<uint8_t> flash = std::vector<uint8_t>(kFlashSize, 0xFF);
    int nDownloads = 0;
    std::atomic<Personality> ePersonality{Personality::Application};
    std::atomic<bool> bRunning{false};

    // Device thread only.
    // What "~rv" tells: the configured version until a download completes with
    // a flashed version configured.
    std::string strAppVersion = config.strVersion;
    CCommandParser parser;
    CPacketFramer framer;
    std::optional<Clock::time_point> tpReady;
    std::optional<Clock::time_point> tpPlug; // when the port comes back
    Personality eNext = Personality::Application;
    std::optional<Clock::time_point> tpDrop; // when the port drops off the bus
    bool bReturnAfterDrop = false;
    bool bDrainBeforeDrop = true; // wait (a while) until the host has read the last reply
    Personality eAfterDrop = Personality::Application;
    uint32_t dwRestartMs = 0;
    bool bLeaving = false; // restarting: input is ignored
    bool bHandshake = false;
    bool bSilent = false;
    bool bDeaf = false;   // reads nothing more (nStopReadingAfterBlock)
    int nBlockFaults = 0; // downloads nFailBlock has failed so far
    uint32_t nJunkSeed = 1;
    uint32_t dwAreaFlags = 0;
    int nBlock = 0;
    Clock::time_point tpLastRx{};

    explicit Impl(SimDeviceConfig cfg) : config(std::move(cfg)), port(MakePortConfig(config)) {}

    static VirtualPortConfig MakePortConfig(const SimDeviceConfig& config) {
        VirtualPortConfig portConfig;
        portConfig.strRoot = config.strRoot;
        portConfig.strUsbPath = config.strUsbPath;
        const bool bBoot = config.eStart == Personality::BootLoader;
        portConfig.strTtyName = bBoot ? config.strBootTty : config.strAppTty;
        portConfig.strProduct = bBoot ? config.strBootProduct : config.strAppProduct;
        portConfig.strSerial = config.strSerial;
        portConfig.bPaced = config.bPaced;
        return portConfig;
    }

    bool HasRequest() const { return bStopRequest || bUnplugRequest || bReplugRequest; }

    // Pause that an operator request cuts short; false when cut short.
    bool Pause(uint32_t dwMs) {
        if (dwMs == 0) {
            return true;
        }
        std::unique_lock lock(mutex);
        return !cv.wait_for(lock, milliseconds(dwMs), [&] { return HasRequest(); });
    }

    void ResetSession() {
        parser.Reset();
        framer.Reset();
        tpReady.reset();
        tpDrop.reset();
        bLeaving = false;
        bHandshake = false;
        bSilent = false;
        bDeaf = false;
        nBlock = 0;
    }

    bool DoPlug(Personality ePersonalityNow) {
        ResetSession();
        tpPlug.reset();
        const bool bBoot = ePersonalityNow == Personality::BootLoader;
        ePersonality = ePersonalityNow;
        std::string strNoise;
        for (uint32_t i = 0; i < config.faults.nNoiseAtPlug; ++i) {
            strNoise.push_back(kNoise[i % (sizeof(kNoise) - 1)]);
        }
        return port.Plug(bBoot ? config.strBootTty : config.strAppTty,
                         bBoot ? config.strBootProduct : config.strAppProduct, strNoise);
    }

    void DoUnplug() {
        port.Unplug();
        ResetSession();
    }

    // Drops off the bus now (after the last reply reached the host) and comes
    // back later when asked to.
    void DoDrop() {
        if (bDrainBeforeDrop) {
            port.Drain(kDrainMs);
        }
        DoUnplug();
        if (bReturnAfterDrop) {
            tpPlug = Clock::now() + milliseconds(dwRestartMs);
            eNext = eAfterDrop;
        }
    }

    void ScheduleDrop(uint32_t dwAfterMs, bool bReturn, Personality eNextPersonality,
                      uint32_t dwRestart, bool bDrain = true) {
        bDrainBeforeDrop = bDrain;
        bLeaving = true;
        tpReady.reset();
        tpDrop = Clock::now() + milliseconds(dwAfterMs);
        bReturnAfterDrop = bReturn;
        eAfterDrop = eNextPersonality;
        dwRestartMs = dwRestart;
    }

    // Operator requests; false on stop.
    bool ProcessRequests() {
        std::unique_lock lock(mutex);
        if (bStopRequest) {
            return false;
        }
        if (bUnplugRequest) {
            bUnplugRequest = false;
            lock.unlock();
            DoUnplug();
            tpPlug.reset();
            lock.lock();
            ++nRequestsDone;
            cv.notify_all();
        }
        if (bReplugRequest) {
            bReplugRequest = false;
            lock.unlock();
            DoUnplug();
            const bool bOk = DoPlug(config.eStart);
            lock.lock();
            bReplugResult = bOk;
            ++nRequestsDone;
            cv.notify_all();
        }
        return true;
    }

    void Run() {
        std::vector<uint8_t> buffer(4096);
        while (ProcessRequests()) {
            const auto tpNow = Clock::now();
            if (!port.IsPlugged()) {
                if (tpPlug && tpNow >= *tpPlug) {
                    DoPlug(eNext);
                    continue;
                }
                std::unique_lock lock(mutex);
                if (tpPlug) {
                    cv.wait_until(lock, *tpPlug, [&] { return HasRequest(); });
                } else {
                    cv.wait(lock, [&] { return HasRequest(); });
                }
                continue;
            }
            if (tpDrop && tpNow >= *tpDrop) {
                tpDrop.reset();
                DoDrop();
                continue;
            }
            if (tpReady && tpNow >= *tpReady) {
                tpReady.reset();
                SendReadyLine();
                continue;
            }
            if (bDeaf) {
                // Leave the host's bytes in the pty: only the operator wakes us.
                std::unique_lock lock(mutex);
                cv.wait_for(lock, milliseconds(1000), [&] { return HasRequest(); });
                continue;
            }
            const bool bPartial = ePersonality == Personality::BootLoader && framer.Pending() > 0;
            if (bPartial && tpNow - tpLastRx >= kPacketGap) {
                GiveUpPartialPacket();
                continue;
            }
            auto tpWake = tpNow + milliseconds(1000);
            for (const auto& tp : {tpDrop, tpReady}) {
                if (tp) {
                    tpWake = std::min(tpWake, *tp);
                }
            }
            if (bPartial) {
                tpWake = std::min(tpWake, tpLastRx + kPacketGap);
            }
            const int nTimeout = static_cast<int>(
                std::max<int64_t>(1, std::chrono::ceil<milliseconds>(tpWake - tpNow).count()));
            const ssize_t n = port.Receive(buffer.data(), buffer.size(), nTimeout);
            if (n <= 0) {
                continue;
            }
            tpLastRx = Clock::now();
            if (bLeaving) {
                continue;
            }
            if (ePersonality == Personality::Application) {
                FeedApplication(buffer.data(), static_cast<size_t>(n));
            } else {
                FeedBootLoader(buffer.data(), static_cast<size_t>(n));
            }
        }
    }

    // ---- replies -----------------------------------------------------------

    bool Reply(const std::vector<uint8_t>& bytes) {
        if (!Pause(config.faults.dwReplyDelayMs)) {
            return false;
        }
        return port.Send(bytes.data(), bytes.size());
    }

    bool Reply(const std::string& strText) {
        return Reply(std::vector<uint8_t>(strText.begin(), strText.end()));
    }

    // Noise the host's packet reader skips: whole 8-byte junk packets.
    void SendJunkPackets() {
        const uint32_t nPackets = (config.faults.nGarbageBytes + 7) / 8;
        for (uint32_t i = 0; i < nPackets; ++i) {
            const std::vector<uint8_t> junk = MakeJunkPacket();
            port.Send(junk.data(), junk.size());
        }
    }

    // ---- application -------------------------------------------------------

    void FeedApplication(const uint8_t* pData, size_t nCount) {
        if (config.faults.bJunkFlood) {
            SendJunkBurst();
            return;
        }
        for (size_t i = 0; i < nCount && !bLeaving; ++i) {
            if (std::optional<std::string> command = parser.Feed(pData[i])) {
                HandleCommand(*command);
            }
        }
    }

    void HandleCommand(const std::string& strCommand) {
        tpReady.reset(); // the ready line never falls between a command and its reply
        const SimFaults& faults = config.faults;
        if (strCommand == "~rv") {
            if (!faults.bNoVersionReply) {
                Reply("~Rv0000" + strAppVersion + "\r\n");
            }
        } else if (strCommand == "~rS") {
            if (Reply("~RS0000" + config.strSerial + "\r\n")) {
                tpReady = Clock::now() + milliseconds(config.dwReadyDelayMs);
            }
        } else if (strCommand == "~dboot") {
            if (faults.bWrongBootReply) {
                Reply(std::string("~Dnope\r\n"));
                return;
            }
            if (!faults.bNoBootReply) {
                Reply(std::string("~Dboot\r\n"));
            }
            ScheduleDrop(0, !faults.bNeverReturns, Personality::BootLoader, config.dwAppRestartMs,
                         !faults.bDropAtOnce);
        }
        // Anything else is not a command of this firmware: no answer.
    }

    // Noise that never forms a reply: any byte but '~' and LF (xorshift bytes).
    void SendJunkBurst() {
        std::vector<uint8_t> junk(kJunkBurst);
        for (uint8_t& byJunk : junk) {
            nJunkSeed ^= nJunkSeed << 13;
            nJunkSeed ^= nJunkSeed >> 17;
            nJunkSeed ^= nJunkSeed << 5;
            byJunk = static_cast<uint8_t>(nJunkSeed);
            if (byJunk == '~' || byJunk == '\n') {
                byJunk = 0xFF;
            }
        }
        port.Send(junk.data(), junk.size());
    }

    void SendReadyLine() {
        std::string strLine;
        for (uint32_t i = 0; i < config.faults.nGarbageBytes; ++i) {
            strLine.push_back(kNoise[i % (sizeof(kNoise) - 1)]);
        }
        strLine += "~e!ready," + config.strReadyText + "\r\n";
        port.Send(strLine);
    }

    // ---- boot loader -------------------------------------------------------

    void FeedBootLoader(const uint8_t* pData, size_t nCount) {
        framer.Append(pData, nCount);
        std::vector<uint8_t> packet;
        while (!bLeaving && !bDeaf && port.IsPlugged() && framer.Take(packet)) {
            HandlePacket(packet);
        }
    }

    void GiveUpPartialPacket() {
        std::vector<uint8_t> partial;
        framer.TakeIncomplete(partial);
        if (partial.size() >= kHeaderSize && ClassifyHeader(partial.data()) == HostPacket::Data &&
            !Quiet()) {
            Reply(MakeReply(kCodeData, kCodeData, kStatusBadPacket));
        }
    }

    bool Quiet() const { return config.faults.bBootLoaderSilent || bSilent; }

    void HandlePacket(const std::vector<uint8_t>& packet) {
        const SimFaults& faults = config.faults;
        const HostPacket eKind = ClassifyHeader(packet.data());
        if (eKind == HostPacket::Data) {
            ++nBlock; // counted also while silent, so "from block N on" holds
        }
        if (eKind == HostPacket::Data && faults.nSilentAtBlock > 0 &&
            nBlock >= faults.nSilentAtBlock) {
            bSilent = true;
        }
        if (Quiet()) {
            return;
        }
        switch (eKind) {
        case HostPacket::StatusQuery:
            if (Pause(faults.dwReplyDelayMs)) {
                SendJunkPackets();
                const std::vector<uint8_t> reply = MakeStatusReply(config.dwBootStatus);
                port.Send(reply.data(), reply.size());
            }
            break;
        case HostPacket::Command:
            HandleHostCommand(GetLe16(packet.data() + 2), GetLe32(packet.data() + 4));
            break;
        case HostPacket::Data:
            HandleData(packet);
            break;
        case HostPacket::Finish:
            HandleFinish();
            break;
        case HostPacket::Unknown:
            break;
        }
    }

    void HandleHostCommand(uint16_t wCode, uint32_t dwArgument) {
        if (wCode == kCodeAreaFlags) {
            dwAreaFlags = dwArgument;
            return;
        }
        if (wCode != kCodeBegin || dwArgument != 1) {
            return; // not a command of this boot loader
        }
        bHandshake = true;
        nBlock = 0;
        if (config.faults.bSilentHandshake || !Pause(config.faults.dwReplyDelayMs)) {
            return;
        }
        std::vector<uint8_t> bytes;
        auto append = [&](const std::vector<uint8_t>& part) {
            bytes.insert(bytes.end(), part.begin(), part.end());
        };
        const uint32_t nJunk = (config.faults.nGarbageBytes + 7) / 8;
        for (uint32_t i = 0; i < nJunk; ++i) {
            append(MakeJunkPacket());
        }
        append(MakeInfoPacket(config.dwMaxPacketWords, config.faults.bLongInfoPacket));
        for (uint32_t i = 0; i < nJunk; ++i) {
            append(MakeJunkPacket());
        }
        append(MakeGoPacket());
        const uint32_t dwStatus = config.faults.dwHandshakeStatus;
        append(MakeReply(kCodeBegin, kCodeBegin, dwStatus != 0 ? dwStatus : kHandshakeValue));
        port.Send(bytes.data(), bytes.size());
    }

    void HandleData(const std::vector<uint8_t>& packet) {
        const SimFaults& faults = config.faults;
        if (faults.nUnplugAtBlock > 0 && nBlock == faults.nUnplugAtBlock) {
            DoUnplug(); // a pulled cable: stays away until Replug()
            return;
        }
        if (faults.nFailBlock > 0 && nBlock == faults.nFailBlock &&
            (faults.nFailTimes == 0 || nBlockFaults < faults.nFailTimes)) {
            ++nBlockFaults;
            Reply(MakeReply(kCodeData, kCodeData, faults.dwFailStatus));
            return;
        }
        DataBlock block;
        if (!bHandshake || !CheckDataPacket(packet.data(), packet.size(), config.dwMaxPacketWords,
                                            kFlashBase, kFlashSize, block)) {
            Reply(MakeReply(kCodeData, kCodeData, kStatusBadPacket));
            return;
        }
        {
            std::lock_guard lock(mutex);
            std::copy_n(packet.begin() + static_cast<std::ptrdiff_t>(block.nDataOffset),
                        block.nLength, flash.begin() + (block.dwAddress - kFlashBase));
        }
        Reply(MakeReply(kCodeData, kCodeData, kStatusAccepted));
        if (faults.nStopReadingAfterBlock > 0 && nBlock == faults.nStopReadingAfterBlock) {
            bDeaf = true;
        }
    }

    void HandleFinish() {
        const SimFaults& faults = config.faults;
        if (!bHandshake) {
            Reply(MakeReply(kCodeFinish, kCodeFinish, kStatusBadPacket));
            return;
        }
        const uint32_t dwEcho = faults.bBadFinalReply ? 3 : kFinishEcho;
        if (!Reply(MakeReply(kCodeFinish, dwEcho, kFinishStatus))) {
            return;
        }
        if (!faults.bBadFinalReply) {
            if (!config.strFlashedVersion.empty()) {
                strAppVersion = config.strFlashedVersion;
            }
            WriteFlashFile();
            std::lock_guard lock(mutex);
            ++nDownloads;
            cv.notify_all();
        }
        ScheduleDrop(faults.dwStayAfterFinishMs, config.bReturnAsApp, Personality::Application,
                     config.dwBootRestartMs);
    }

    void WriteFlashFile() {
        if (config.strFlashOut.empty()) {
            return;
        }
        std::vector<uint8_t> image;
        {
            std::lock_guard lock(mutex);
            image = flash;
        }
        const std::string strTemp =
            config.strFlashOut + ".tmp." + std::to_string(getpid()) + "." + config.strUsbPath;
        {
            std::ofstream file(strTemp, std::ios::binary | std::ios::trunc);
            file.write(reinterpret_cast<const char*>(image.data()),
                       static_cast<std::streamsize>(image.size()));
            file.close();
            if (!file) {
                std::fprintf(stderr, "fwsim: cannot write %s\n", strTemp.c_str());
                std::remove(strTemp.c_str());
                return;
            }
        }
        if (std::rename(strTemp.c_str(), config.strFlashOut.c_str()) != 0) {
            std::fprintf(stderr, "fwsim: cannot replace %s\n", config.strFlashOut.c_str());
            std::remove(strTemp.c_str());
        }
    }

    // Posts an operator request and waits until the device thread carried it out.
    void PostRequest(bool Impl::*pFlag) {
        std::unique_lock lock(mutex);
        const uint64_t nTarget = nRequestsDone + 1;
        this->*pFlag = true;
        cv.notify_all();
        lock.unlock();
        port.Interrupt();
        lock.lock();
        cv.wait(lock, [&] { return nRequestsDone >= nTarget || !bRunning; });
    }
};

CSimDevice::CSimDevice(SimDeviceConfig config)
    : m_pImpl(std::make_unique<Impl>(std::move(config))) {}

CSimDevice::~CSimDevice() {
    Stop();
}

bool CSimDevice::Start() {
    if (m_pImpl->bRunning) {
        return true;
    }
    if (!m_pImpl->DoPlug(m_pImpl->config.eStart)) {
        return false;
    }
    m_pImpl->bStopRequest = false;
    m_pImpl->bRunning = true;
    m_pImpl->thread = std::thread([this] { m_pImpl->Run(); });
    return true;
}

void CSimDevice::Stop() {
    {
        std::lock_guard lock(m_pImpl->mutex);
        m_pImpl->bStopRequest = true;
        m_pImpl->cv.notify_all();
    }
    m_pImpl->port.Interrupt();
    if (m_pImpl->thread.joinable()) {
        m_pImpl->thread.join();
    }
    {
        std::lock_guard lock(m_pImpl->mutex);
        m_pImpl->bRunning = false;
        m_pImpl->cv.notify_all();
    }
    m_pImpl->port.Unplug();
}

void CSimDevice::Unplug() {
    if (!m_pImpl->bRunning) {
        m_pImpl->port.Unplug();
        return;
    }
    m_pImpl->PostRequest(&Impl::bUnplugRequest);
}

bool CSimDevice::Replug() {
    if (!m_pImpl->bRunning) {
        return false;
    }
    m_pImpl->PostRequest(&Impl::bReplugRequest);
    std::lock_guard lock(m_pImpl->mutex);
    return m_pImpl->bReplugResult;
}

bool CSimDevice::IsPlugged() const {
    return m_pImpl->port.IsPlugged();
}

Personality CSimDevice::CurrentPersonality() const {
    return m_pImpl->ePersonality;
}

std::string CSimDevice::DevicePath() const {
    return m_pImpl->port.DevicePath();
}

std::vector<uint8_t> CSimDevice::Flash() const {
    std::lock_guard lock(m_pImpl->mutex);
    return m_pImpl->flash;
}

std::vector<uint8_t> CSimDevice::FlashAt(uint32_t dwAddress, size_t nLength) const {
    std::lock_guard lock(m_pImpl->mutex);
    std::vector<uint8_t> bytes;
    if (dwAddress < kFlashBase || dwAddress - kFlashBase >= kFlashSize) {
        return bytes;
    }
    const size_t nOffset = dwAddress - kFlashBase;
    nLength = std::min(nLength, kFlashSize - nOffset);
    bytes.assign(m_pImpl->flash.begin() + static_cast<std::ptrdiff_t>(nOffset),
                 m_pImpl->flash.begin() + static_cast<std::ptrdiff_t>(nOffset + nLength));
    return bytes;
}

int CSimDevice::DownloadsFinished() const {
    std::lock_guard lock(m_pImpl->mutex);
    return m_pImpl->nDownloads;
}

bool CSimDevice::WaitForDownloads(int n, uint32_t dwTimeoutMs) const {
    std::unique_lock lock(m_pImpl->mutex);
    return m_pImpl->cv.wait_for(lock, milliseconds(dwTimeoutMs),
                                [&] { return m_pImpl->nDownloads >= n; });
}

const SimDeviceConfig& CSimDevice::Config() const {
    return m_pImpl->config;
}

} // namespace fwsim
