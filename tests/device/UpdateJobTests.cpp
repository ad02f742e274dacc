// The whole update job against the simulated device over ptys, with the tests'
// shortened timings: the stage sequence, outcome and cause of every ending, the
// flashed bytes, sessions side by side, and a stop request.

#include "device/UpdateJob.h"
#include "serial/Clock.h"
#include "serial/DebugChannel.h"
#include "serial/PortDiscovery.h"
#include "tests/support/CSimRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <thread>
#include <unistd.h>

using namespace fwup;
using fwsim::Personality;
using fwtest::CSimRig;
using fwtest::TestTimings;

namespace {

// What the job's observer sees.
struct CStageLog : IStageObserver {
    std::vector<int> stages;
    std::vector<int> progress;
    std::string strConnecting;
    std::string strFinal;
    std::string strCause;
    std::string strSerialAtUpdating = "(none)";
    std::string strFileAtUpdating;
    int32_t nSizeAtUpdating = -1;
    std::function<void(int)> onProgress; // called at each progress report
    std::function<void(int)> onStage;    // called at each report, with its stage

    // Runs of progress reports collapsed to one 5.
    std::vector<int> Shape() const {
        std::vector<int> shape;
        for (int nStage : stages) {
            if (nStage != StageProgress || shape.empty() || shape.back() != StageProgress) {
                shape.push_back(nStage);
            }
        }
        return shape;
    }

    void OnStage(UpdateStage eStage, const UpdateStatus& status) override {
        stages.push_back(eStage);
        if (onStage) {
            onStage(eStage);
        }
        switch (eStage) {
        case StageConnecting:
            strConnecting = status.strMessage;
            break;
        case StageUpdating:
            strSerialAtUpdating = status.optSerial.value_or("(none)");
            strFileAtUpdating = status.strFileName;
            nSizeAtUpdating = status.nFileSize;
            break;
        case StageProgress:
            progress.push_back(status.nProgress);
            if (onProgress) {
                onProgress(status.nProgress);
            }
            break;
        case StageSuccess:
        case StageFailure:
            strFinal = status.strMessage;
            strCause = status.strCause;
            break;
        default:
            break;
        }
    }
};

std::vector<uint8_t> ReadAll(const std::string& strPath) {
    std::ifstream file(strPath, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

using Shape = std::vector<int>;

// A session on the first listed port, open or closed as asked.
std::unique_ptr<CDeviceSession> OpenSession(const CSimRig& rig, bool bOpen = true) {
    auto pSession = std::make_unique<CDeviceSession>(rig.WaitPortName(), TestTimings());
    EXPECT_TRUE(pSession->Port().IsOpen());
    if (!bOpen) {
        pSession->Port().Close();
    }
    return pSession;
}

} // namespace

TEST(UpdateJob, OpenPortApplicationDeviceFlashesWholeCodeArea) {
    CSimRig rig;
    fwsim::CSimDevice device(rig.DeviceConfig(Personality::Application));
    ASSERT_TRUE(device.Start());
    auto pSession = OpenSession(rig);
    UpdateRequest request;
    request.strFirmwarePath = rig.WriteFirmware("code.bin", 176128);

    CStageLog log;
    const UpdateOutcome outcome = RunUpdate(*pSession, request, log);
    EXPECT_TRUE(outcome.Succeeded());
    EXPECT_EQ(log.Shape(), (Shape{0, 4, 5, 7, 7, 1}));
    EXPECT_EQ(log.strFinal, "FW Update Successful!\nPlease disconnect the USB cable and turn "
                            "your Tarnic's power off & on before use.");
    EXPECT_EQ(log.progress.size(), (176128u + 235) / 236); // one report per block of L=64
    EXPECT_EQ(log.progress.back(), 100);
    EXPECT_EQ(log.strSerialAtUpdating, "SN00000001");
    EXPECT_EQ(request.optVersion, "2.0.0.1");
    EXPECT_EQ(log.strFileAtUpdating, "code.bin");
    EXPECT_EQ(log.nSizeAtUpdating, 176128);
    EXPECT_FALSE(pSession->Port().IsOpen()); // closed after a success, even when handed in open
    EXPECT_EQ(device.DownloadsFinished(), 1);
    EXPECT_EQ(device.FlashAt(0x108000, 176128), ReadAll(request.strFirmwarePath));
}

// The read-back after a download and the expected version, one row per ending.
TEST(UpdateJob, ReadBackAndExpectedVersion) {
    struct Row {
        const char* pszName;
        std::string strRunning; // what "~rv" tells before the download
        std::string strFlashed; // what it tells after one (empty: unchanged)
        bool bReturns;          // the application comes back after the download
        bool bVerify;           // the request's
        const char* pszExpect;  // the request's expected version; null: none
        OutcomeKind eKind;
        VerifyState eVerified;
        std::optional<std::string> optAfter;
        Shape shape;
        int nDownloads;
        const char* pszCauseHas; // in the cause or the last verifying line
    };
    const Row rows[] = {
        {"verified",
         "2.0.0.1",
         "2.1.0.0",
         true,
         true,
         "2.1.0.0",
         OutcomeKind::Success,
         VerifyState::Yes,
         "2.1.0.0",
         {0, 4, 5, 7, 7, 1},
         1,
         "verified: the reader reports version 2.1.0.0, serial SN00000001"},
        {"another version",
         "2.0.0.1",
         "2.1.0.0",
         true,
         true,
         "3.0.0.0",
         OutcomeKind::VerifyFailed,
         VerifyState::No,
         "2.1.0.0",
         {0, 4, 5, 7, 6},
         1,
         "the reader reports 2.1.0.0, expected 3.0.0.0"},
        {"stays away",
         "2.0.0.1",
         "",
         false,
         true,
         "2.0.0.1x",
         OutcomeKind::Success,
         VerifyState::No,
         std::nullopt,
         {0, 4, 5, 7, 7, 1},
         1,
         "not verified: the reader did not come back"},
        {"no read-back",
         "2.0.0.1",
         "2.1.0.0",
         true,
         false,
         "2.1.0.0",
         OutcomeKind::Success,
         VerifyState::NotChecked,
         std::nullopt,
         {0, 4, 5, 1},
         1,
         ""},
        {"already current",
         "2.1.0.0",
         "",
         true,
         true,
         "2.1.0.0",
         OutcomeKind::Current,
         VerifyState::NotChecked,
         std::nullopt,
         {0, 1},
         0,
         "current: the reader already runs version 2.1.0.0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszName);
        CSimRig rig;
        auto config = rig.DeviceConfig(Personality::Application);
        config.strVersion = row.strRunning;
        config.strFlashedVersion = row.strFlashed;
        config.bReturnAsApp = row.bReturns;
        fwsim::CSimDevice device(config);
        ASSERT_TRUE(device.Start());
        auto pSession = OpenSession(rig);
        UpdateRequest request;
        request.strFirmwarePath = rig.WriteFirmware("code.bin", 2000);
        request.bVerify = row.bVerify;
        if (row.pszExpect != nullptr) {
            request.optExpectVersion = row.pszExpect;
        }
        CStageLog log;
        std::string strLastVerifying;
        log.onStage = [&](int nStage) {
            if (nStage == StageVerifying) {
                strLastVerifying = request.status.strMessage;
            }
        };
        const UpdateOutcome outcome = RunUpdate(*pSession, request, log);
        EXPECT_EQ(outcome.eKind, row.eKind);
        EXPECT_EQ(request.eVerified, row.eVerified);
        EXPECT_EQ(request.optVersionAfter, row.optAfter);
        EXPECT_EQ(log.Shape(), row.shape);
        EXPECT_EQ(device.DownloadsFinished(), row.nDownloads);
        const std::string strSaid = strLastVerifying + "|" + log.strFinal + "|" + outcome.strCause;
        EXPECT_NE(strSaid.find(row.pszCauseHas), std::string::npos) << strSaid;
    }
}

// A file swapped after the station's verdict: refused before "~dboot", so the
// reader stays in its application with nothing downloaded.
TEST(UpdateJob, AnImageOtherThanTheApprovedOneIsRefusedBeforeTheBootLoader) {
    CSimRig rig;
    fwsim::CSimDevice device(rig.DeviceConfig(Personality::Application));
    ASSERT_TRUE(device.Start());
    auto pSession = OpenSession(rig);
    UpdateRequest request;
    request.strFirmwarePath = rig.WriteFirmware("code.bin", 3000);
    request.strApprovedSha256 = std::string(64, '0');
    CStageLog log;
    const UpdateOutcome outcome = RunUpdate(*pSession, request, log);
    EXPECT_EQ(outcome.eKind, OutcomeKind::InvalidFirmware);
    EXPECT_EQ(log.strFinal, "invalid firmware file");
    EXPECT_NE(log.strCause.find("changed after the station profile's check"), std::string::npos)
        << log.strCause;
    EXPECT_EQ(device.CurrentPersonality(), Personality::Application);
    EXPECT_EQ(device.DownloadsFinished(), 0);
}

TEST(UpdateJob, ClosedPortIsWaitedForAndClosedAgain) {
    CSimRig rig;
    fwsim::CSimDevice device(rig.DeviceConfig(Personality::BootLoader));
    ASSERT_TRUE(device.Start());
    auto pSession = OpenSession(rig, false);
    UpdateRequest request;
    request.status.optSerial = "SN-previous-job";
    request.strFirmwarePath = rig.WriteFirmware("small.bin", 1000);

    CStageLog log;
    EXPECT_TRUE(RunUpdate(*pSession, request, log).Succeeded());
    EXPECT_EQ(log.Shape(), (Shape{0, 3, 4, 5, 7, 7, 1}));
    EXPECT_EQ(log.strConnecting, "connecting to " + pSession->Port().GetDeviceName());
    EXPECT_EQ(log.strSerialAtUpdating, "SN-previous-job"); // a boot loader has none to tell
    EXPECT_EQ(request.optVersion, std::nullopt);
    // The read-back learns the unit's own.
    EXPECT_EQ(request.status.optSerial, "SN00000001");
    EXPECT_EQ(request.eVerified, VerifyState::Yes);
    EXPECT_FALSE(pSession->Port().IsOpen());
    EXPECT_EQ(device.FlashAt(0x108000, 1000), ReadAll(request.strFirmwarePath));
}

// A reader whose port stays after the confirmed download: the job waits for it to
// go only for its bounded time, and reports success while the port is still there.
TEST(UpdateJob, WaitForThePortToGoAfterTheDownloadIsBounded) {
    CSimRig rig;
    fwup::ProtocolTimings timings = TestTimings();
    timings.nGoneAfterMs = 300;
    auto config = rig.DeviceConfig(Personality::BootLoader);
    config.faults.dwStayAfterFinishMs = 20 * timings.nGoneAfterMs;
    fwsim::CSimDevice device(config);
    ASSERT_TRUE(device.Start());
    CDeviceSession session(rig.WaitPortName(), timings);
    UpdateRequest request;
    request.strFirmwarePath = rig.WriteFirmware("fw.bin", 500);
    CStageLog log;
    EXPECT_TRUE(RunUpdate(session, request, log).Succeeded()) << log.strCause;
    EXPECT_EQ(device.DownloadsFinished(), 1);
    EXPECT_TRUE(device.IsPlugged()) << "the job waited for the port beyond its bound";
    EXPECT_FALSE(session.Port().IsOpen());
}

// Every failing ending: its stages, outcome, a word of its cause, and the port
// left as the caller handed it (open) or closed when the job opened it.
struct FailureCase {
    const char* pszName;
    Personality eStart;
    std::function<void(fwsim::SimFaults&)> setFaults;
    bool bHandOpen;
    size_t nFileSize;
    Shape shape;
    OutcomeKind eKind;
    const char* pszCauseWord;
    bool bOpenAfter;          // a failure leaves a handed-in port open, closes one the job opened
    uint32_t dwMaxWords = 64; // the boot loader's packet size L
    int nStopAtStage = -1;    // a stop is requested when the job reports this stage
};

void PrintTo(const FailureCase& c, std::ostream* pStream) {
    *pStream << c.pszName;
}

class UpdateJobFailures : public testing::TestWithParam<FailureCase> {};

TEST_P(UpdateJobFailures, EndWithTextCauseAndPortState) {
    const FailureCase& c = GetParam();
    CSimRig rig;
    auto config = rig.DeviceConfig(c.eStart);
    if (c.setFaults) {
        c.setFaults(config.faults);
    }
    config.dwMaxPacketWords = c.dwMaxWords;
    fwsim::CSimDevice device(config);
    ASSERT_TRUE(device.Start());
    auto pSession = OpenSession(rig, c.bHandOpen);
    UpdateRequest request;
    request.strFirmwarePath = rig.WriteFirmware("fw.bin", c.nFileSize);

    CStageLog log;
    CDeviceSession* pRaw = pSession.get();
    log.onStage = [&c, pRaw](int nStage) {
        if (nStage == c.nStopAtStage) {
            pRaw->RequestStop();
        }
    };
    const UpdateOutcome outcome = RunUpdate(*pSession, request, log);
    EXPECT_EQ(outcome.eKind, c.eKind);
    EXPECT_EQ(log.Shape(), c.shape);
    EXPECT_EQ(log.strFinal, OutcomeText(c.eKind));
    EXPECT_EQ(log.strCause, outcome.strCause);
    EXPECT_NE(outcome.strCause.find(c.pszCauseWord), std::string::npos) << outcome.strCause;
    EXPECT_EQ(pSession->Port().IsOpen(), c.bOpenAfter);
    EXPECT_EQ(device.DownloadsFinished(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, UpdateJobFailures,
    testing::Values(
        FailureCase{"SilentDevice", Personality::Application,
                    [](auto& f) { f.bNoVersionReply = true; }, true, 100, Shape{0, 6},
                    OutcomeKind::NotDetected, "nothing answered", true},
        // The device stays attached: the job must not wait for its port to vanish.
        FailureCase{"SilentDeviceOnJobOpenedPort", Personality::Application,
                    [](auto& f) { f.bNoVersionReply = true; }, false, 100, Shape{0, 3, 6},
                    OutcomeKind::NotDetected, "nothing answered", false},
        FailureCase{"EmptyFile", Personality::BootLoader, nullptr, true, 0, Shape{0, 6},
                    OutcomeKind::InvalidFirmware, "empty", true},
        FailureCase{"OversizedFile", Personality::BootLoader, nullptr, false, 176129,
                    Shape{0, 3, 6}, OutcomeKind::InvalidFirmware, "at most 176128", false},
        FailureCase{"RefusedBootEntry", Personality::Application,
                    [](auto& f) { f.bWrongBootReply = true; }, true, 100, Shape{0, 4, 6},
                    OutcomeKind::BootFailed, "~dboot", true},
        FailureCase{"SilentBootLoader", Personality::Application,
                    [](auto& f) { f.bBootLoaderSilent = true; }, true, 100, Shape{0, 4, 6},
                    OutcomeKind::BootFailed, "status query", true},
        FailureCase{"PortNeverReturns", Personality::Application,
                    [](auto& f) { f.bNeverReturns = true; }, true, 100, Shape{0, 4, 6},
                    OutcomeKind::BootFailed, "did not come back", false},
        FailureCase{"RefusedBlock", Personality::Application,
                    [](auto& f) { f.nFailBlock = 3, f.dwFailStatus = 2; }, true, 2000,
                    Shape{0, 4, 5, 6}, OutcomeKind::CommunicationError, "block 3 with status 2",
                    true},
        FailureCase{"SilentFromBlock2", Personality::BootLoader,
                    [](auto& f) { f.nSilentAtBlock = 2; }, true, 2000, Shape{0, 4, 5, 6},
                    OutcomeKind::CommunicationError, "no reply at block 2", true},
        FailureCase{"UnpluggedAtBlock2", Personality::BootLoader,
                    [](auto& f) { f.nUnplugAtBlock = 2; }, true, 2000, Shape{0, 4, 5, 6},
                    OutcomeKind::CommunicationError, "unplugged", true},
        FailureCase{"FinishNotConfirmed", Personality::BootLoader,
                    [](auto& f) { f.bBadFinalReply = true; }, true, 500, Shape{0, 4, 5, 6},
                    OutcomeKind::CommunicationError, "finish", true},
        FailureCase{"BadBlockStatus", Personality::BootLoader,
                    [](auto& f) { f.nFailBlock = 2, f.dwFailStatus = 7; }, true, 2000,
                    Shape{0, 4, 5, 6}, OutcomeKind::CommunicationError, "block 2 with status 7",
                    true},
        FailureCase{"HandshakeTimeOut", Personality::BootLoader,
                    [](auto& f) { f.bSilentHandshake = true; }, true, 500, Shape{0, 4, 6},
                    OutcomeKind::CommunicationError, "did not send its info and go packets", true},
        FailureCase{"HandshakeStatus", Personality::BootLoader,
                    [](auto& f) { f.dwHandshakeStatus = 15; }, true, 500, Shape{0, 4, 6},
                    OutcomeKind::CommunicationError, "with status 15 instead of 14", true},
        FailureCase{"PacketSizeTooSmall", Personality::BootLoader, nullptr, true, 500,
                    Shape{0, 4, 6}, OutcomeKind::CommunicationError,
                    "unusable packet size (5 words)", true, 5},
        // Asked to stop once the image is checked: nothing reaches the reader.
        FailureCase{"StopBeforeTheDownload", Personality::Application, nullptr, true, 500,
                    Shape{0, 4, 6}, OutcomeKind::Interrupted, "the reader was not changed", true,
                    64, 4}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.pszName; });

TEST(UpdateJob, OpenProblemsSayWhy) {
    CSimRig rig;
    { // Nothing is ever listed: the job waits for the port, then says what is missing.
        CDeviceSession session("AT91 USB to Serial Converter (COM7)", TestTimings());
        UpdateRequest request;
        request.strFirmwarePath = rig.WriteFirmware("fw.bin", 100);
        CStageLog log;
        const uint32_t dwStart = GetTickCount();
        const UpdateOutcome outcome = RunUpdate(session, request, log);
        EXPECT_GE(TicksSince(dwStart), TestTimings().nDetectOpenMs);
        EXPECT_EQ(log.Shape(), (Shape{0, 3, 6}));
        EXPECT_EQ(log.strConnecting, "connecting to AT91 USB to Serial Converter (COM7)");
        EXPECT_EQ(outcome.eKind, OutcomeKind::CheckConnection);
        EXPECT_NE(outcome.strCause.find("COM7 is present"), std::string::npos) << outcome.strCause;
    }
    { // Held by another session: busy, naming this process as the holder.
        fwsim::CSimDevice device(rig.DeviceConfig(Personality::BootLoader));
        ASSERT_TRUE(device.Start());
        auto pHolder = OpenSession(rig);
        CDeviceSession second(pHolder->Port().GetDeviceName(), TestTimings());
        ASSERT_FALSE(second.Port().IsOpen());
        EXPECT_EQ(second.Port().GetOpenError().eProblem, PortOpenProblem::Busy);
        UpdateRequest request;
        request.strFirmwarePath = rig.WriteFirmware("fw.bin", 100);
        CStageLog log;
        const UpdateOutcome outcome = RunUpdate(second, request, log);
        EXPECT_EQ(outcome.eKind, OutcomeKind::CheckConnection);
        EXPECT_NE(outcome.strCause.find("pid " + std::to_string(::getpid())), std::string::npos)
            << outcome.strCause;
    }
}

TEST(UpdateJob, TwoDevicesFlashAtTheSameTimeInOneProcess) {
    CSimRig rig;
    auto configA = rig.DeviceConfig(Personality::Application, "1-1");
    auto configB = rig.DeviceConfig(Personality::Application, "1-2");
    configB.strAppTty = configB.strBootTty = "ttyACM1";
    configB.strSerial = "SN00000002";
    fwsim::CSimDevice deviceA(configA), deviceB(configB);
    ASSERT_TRUE(deviceA.Start());
    ASSERT_TRUE(deviceB.Start());
    std::vector<PortRecord> ports;
    for (int i = 0; i < 100 && ports.size() < 2; ++i, SleepMs(20)) {
        ports = ScanPorts();
    }
    ASSERT_EQ(ports.size(), 2u);

    struct Run {
        std::unique_ptr<CDeviceSession> pSession;
        UpdateRequest request;
        CStageLog log;
        UpdateOutcome outcome;
    } runs[2];
    for (int i = 0; i < 2; ++i) {
        runs[i].pSession =
            std::make_unique<CDeviceSession>(std::make_unique<CComPort>(ports[i]), TestTimings());
        runs[i].request.strFirmwarePath =
            rig.WriteFirmware("fw" + std::to_string(i) + ".bin", 60000, 11 + i);
    }
    std::thread threads[2];
    for (Run& run : runs) {
        threads[&run - runs] =
            std::thread([&run] { run.outcome = RunUpdate(*run.pSession, run.request, run.log); });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    std::set<std::string> serials;
    for (const Run& run : runs) {
        EXPECT_TRUE(run.outcome.Succeeded()) << run.log.strCause;
        serials.insert(run.log.strSerialAtUpdating);
    }
    EXPECT_EQ(serials, (std::set<std::string>{"SN00000001", "SN00000002"}));
    EXPECT_EQ(deviceA.FlashAt(0x108000, 60000), ReadAll(runs[0].request.strFirmwarePath));
    EXPECT_EQ(deviceB.FlashAt(0x108000, 60000), ReadAll(runs[1].request.strFirmwarePath));
}

TEST(UpdateJob, StopRequestEndsAtAPacketBoundaryAndTheNextRunFinishes) {
    CSimRig rig;
    fwsim::CSimDevice device(rig.DeviceConfig(Personality::Application));
    ASSERT_TRUE(device.Start());
    UpdateRequest request;
    request.strFirmwarePath = rig.WriteFirmware("fw.bin", 20000);
    {
        auto pSession = OpenSession(rig);
        CStageLog log;
        CDeviceSession* pRaw = pSession.get();
        log.onProgress = [pRaw](int nPercent) {
            if (nPercent >= 50) {
                pRaw->RequestStop();
            }
        };
        const UpdateOutcome outcome = RunUpdate(*pSession, request, log);
        EXPECT_EQ(outcome.eKind, OutcomeKind::Interrupted);
        EXPECT_EQ(outcome.eStep, OutcomeStep::Block);
        EXPECT_EQ(outcome.nDownloadCode, -10020);
        EXPECT_NE(outcome.strCause.find("boot loader"), std::string::npos);
        EXPECT_LT(log.progress.back(), 100);
        EXPECT_EQ(device.DownloadsFinished(), 0);
    }
    // The reader waits in its boot loader, which takes the next run's image.
    EXPECT_EQ(device.CurrentPersonality(), Personality::BootLoader);
    auto pSession = OpenSession(rig);
    CStageLog log;
    EXPECT_TRUE(RunUpdate(*pSession, request, log).Succeeded()) << log.strCause;
    EXPECT_EQ(device.FlashAt(0x108000, 20000), ReadAll(request.strFirmwarePath));
}

// A reader that stops reading: one 64 KiB packet is more than the pty holds, so the
// write of block 2 blocks. A stop request ends that wait long before its deadline.
TEST(UpdateJob, StopRequestEndsAWriteTheReaderNoLongerTakes) {
    CSimRig rig;
    auto config = rig.DeviceConfig(Personality::BootLoader);
    config.dwMaxPacketWords = 16384;
    config.faults.nStopReadingAfterBlock = 1;
    fwsim::CSimDevice device(config);
    ASSERT_TRUE(device.Start());
    auto pSession = OpenSession(rig);
    UpdateRequest request;
    request.strFirmwarePath = rig.WriteFirmware("fw.bin", 176128);
    CStageLog log;
    CDeviceSession* pRaw = pSession.get();
    // The stop comes with the first bytes of block 2 on the line (its trace), past
    // the packet boundary where a stop would end the download cleanly.
    std::atomic<bool> bBlock1Done{false};
    std::atomic<bool> bStopped{false};
    log.onProgress = [&](int) { bBlock1Done = true; };
    const DebugSink previous = SetDebugSink([&](const std::string& strLine) {
        if (bBlock1Done && strLine.rfind("Tx : ", 0) == 0 && !bStopped.exchange(true)) {
            pRaw->RequestStop();
        }
    });
    const uint32_t dwStart = GetTickCount();
    const UpdateOutcome outcome = RunUpdate(*pSession, request, log);
    const uint32_t dwTook = TicksSince(dwStart);
    SetDebugSink(previous);
    ASSERT_TRUE(bStopped);
    EXPECT_EQ(outcome.eKind, OutcomeKind::CommunicationError) << outcome.strCause;
    EXPECT_NE(outcome.strCause.find("the reader stopped reading at block 2"), std::string::npos)
        << outcome.strCause;
    // The write's own deadline: the packet wait plus 65540 bytes at 115200 baud (5690 ms).
    EXPECT_LT(dwTook, TestTimings().nPacketMs + 5690) << "the stop request did not end the wait";
}

TEST(UpdateOutcomes, TextsAndExitCodesComeFromOneTable) {
    // The operator's texts as the device's documentation words them, and the
    // command line's documented exit codes.
    const struct {
        OutcomeKind eKind;
        const char* pszText;
        int nCode;
    } rows[] = {
        {OutcomeKind::Success,
         "FW Update Successful!\nPlease disconnect the USB cable and turn your Tarnic's power off "
         "& on before use.",
         0},
        {OutcomeKind::CheckConnection, "check connection", 10},
        {OutcomeKind::NotDetected, "device not detected", 11},
        {OutcomeKind::InvalidFirmware, "invalid firmware file", 12},
        {OutcomeKind::BootFailed, "boot loader failed. check connection", 13},
        {OutcomeKind::CommunicationError, "Communication Error", 14},
        {OutcomeKind::Interrupted, "interrupted", 130},
    };
    for (const auto& row : rows) {
        EXPECT_STREQ(OutcomeText(row.eKind), row.pszText);
        EXPECT_EQ(OutcomeExitCode(row.eKind), row.nCode) << row.pszText;
        OutcomeKind eBack = OutcomeKind::Success;
        ASSERT_TRUE(OutcomeKindFromText(row.pszText, eBack)) << row.pszText;
        EXPECT_EQ(eBack, row.eKind);
    }
}
