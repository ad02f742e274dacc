// The whole update job against the simulated device over ptys: the stage
// sequence of every ending, the texts, the file rules and the flashed bytes.

#include "SimRig.h"
#include "device/FirmwareFile.h"
#include "device/UpdateJob.h"
#include "serial/Clock.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace fwup;
using fwsim::Personality;
using fwtest::CSimRig;

namespace {

// What the window's callback would see.
struct CStageLog {
    std::vector<int> stages;
    std::vector<int> progress;
    std::string strConnecting;
    std::string strFinal;
    std::string strSerialAtUpdating = "(none)";
    std::string strFileAtUpdating;
    int32_t nSizeAtUpdating = -1;

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
};

void OnStatus(int nStage, UpdateStatus* pStatus, void* pContext) {
    auto& log = *static_cast<CStageLog*>(pContext);
    log.stages.push_back(nStage);
    switch (nStage) {
    case StageConnecting:
        log.strConnecting = pStatus->strMessage;
        break;
    case StageUpdating:
        log.strSerialAtUpdating = pStatus->pszSerial ? pStatus->pszSerial : "(none)";
        log.strFileAtUpdating = pStatus->strFileName;
        log.nSizeAtUpdating = pStatus->nFileSize;
        break;
    case StageProgress:
        log.progress.push_back(pStatus->nProgress);
        break;
    case StageSuccess:
    case StageFailure:
        log.strFinal = pStatus->strMessage;
        break;
    default:
        break;
    }
}

std::vector<uint8_t> ReadAll(const std::string& strPath) {
    std::ifstream file(strPath, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

CStageLog RunJob(CComPort& port, UpdateRequest& request) {
    CStageLog log;
    RunUpdate(port, request, &log, &OnStatus);
    return log;
}

using Shape = std::vector<int>;

} // namespace

TEST(UpdateJob, OpenPortApplicationDeviceFlashesWholeCodeArea) {
    CSimRig rig;
    fwsim::CSimDevice device(rig.DeviceConfig(Personality::Application));
    ASSERT_TRUE(device.Start());
    CComPort port(rig.WaitPortName(), 1024, 20480);
    ASSERT_TRUE(port.IsOpen());
    UpdateRequest request;
    request.strFirmwarePath = rig.WriteFirmware("code.bin", 176128);

    const CStageLog log = RunJob(port, request);
    EXPECT_EQ(log.Shape(), (Shape{0, 4, 5, 1}));
    EXPECT_EQ(log.strFinal, "FW Update Successful!\nPlease disconnect the USB cable and turn "
                            "your Tarnic's power off & on before use.");
    EXPECT_EQ(log.progress.size(), (176128u + 235) / 236); // one report per block of L=64
    EXPECT_EQ(log.progress.back(), 100);
    EXPECT_EQ(log.strSerialAtUpdating, "SN00000001");
    EXPECT_EQ(log.strFileAtUpdating, "code.bin");
    EXPECT_EQ(log.nSizeAtUpdating, 176128);
    EXPECT_FALSE(port.IsOpen()); // closed after a success, even when handed in open
    EXPECT_EQ(device.DownloadsFinished(), 1);
    EXPECT_EQ(device.FlashAt(0x108000, 176128), ReadAll(request.strFirmwarePath));
}

TEST(UpdateJob, ClosedPortIsWaitedForAndClosedAgain) {
    CSimRig rig;
    fwsim::CSimDevice device(rig.DeviceConfig(Personality::Application));
    ASSERT_TRUE(device.Start());
    const std::string strName = rig.WaitPortName();
    CComPort port(strName, 1024, 20480);
    port.Close();
    UpdateRequest request;
    request.strFirmwarePath = rig.WriteFirmware("small.bin", 1000);

    const CStageLog log = RunJob(port, request);
    EXPECT_EQ(log.Shape(), (Shape{0, 3, 4, 5, 1}));
    EXPECT_EQ(log.strConnecting, "connecting to " + strName);
    EXPECT_EQ(log.strFinal, kTextSuccess);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(device.FlashAt(0x108000, 1000), ReadAll(request.strFirmwarePath));
}

TEST(UpdateJob, NoDeviceEverGivesCheckConnection) {
    CSimRig rig; // an empty system: nothing is ever listed
    CComPort port("AT91 USB to Serial Converter (COM1)", 1024, 20480);
    ASSERT_FALSE(port.IsOpen());
    UpdateRequest request;
    request.strFirmwarePath = rig.WriteFirmware("fw.bin", 100);
    const uint32_t dwStart = GetTickCount();
    const CStageLog log = RunJob(port, request);
    EXPECT_GE(TicksSince(dwStart), 7000u);
    EXPECT_EQ(log.Shape(), (Shape{0, 3, 6}));
    EXPECT_EQ(log.strConnecting, "connecting to AT91 USB to Serial Converter (COM1)");
    EXPECT_EQ(log.strFinal, "check connection");
}

TEST(UpdateJob, SilentDeviceIsNotDetected) {
    CSimRig rig;
    auto config = rig.DeviceConfig(Personality::Application);
    config.faults.bNoVersionReply = true;
    fwsim::CSimDevice device(config);
    ASSERT_TRUE(device.Start());
    CComPort port(rig.WaitPortName(), 1024, 20480);
    ASSERT_TRUE(port.IsOpen());
    UpdateRequest request;
    request.strFirmwarePath = rig.WriteFirmware("fw.bin", 100);
    const CStageLog log = RunJob(port, request);
    EXPECT_EQ(log.Shape(), (Shape{0, 6}));
    EXPECT_EQ(log.strFinal, "device not detected");
    EXPECT_TRUE(port.IsOpen()); // the caller's open port stays open on a failure
}

TEST(UpdateJob, SilentDeviceOnAJobOpenedPortEndsAndClosesIt) {
    CSimRig rig;
    auto config = rig.DeviceConfig(Personality::Application);
    config.faults.bNoVersionReply = true;
    fwsim::CSimDevice device(config);
    ASSERT_TRUE(device.Start());
    CComPort port(rig.WaitPortName(), 1024, 20480);
    port.Close();
    UpdateRequest request;
    request.strFirmwarePath = rig.WriteFirmware("fw.bin", 100);
    // The device stays attached: the job must not wait for its port to vanish.
    const CStageLog log = RunJob(port, request);
    EXPECT_EQ(log.Shape(), (Shape{0, 3, 6}));
    EXPECT_EQ(log.strFinal, "device not detected");
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(device.IsPlugged());
}

TEST(UpdateJob, RefusedBootEntryGivesBootLoaderFailed) {
    CSimRig rig;
    auto config = rig.DeviceConfig(Personality::Application);
    config.faults.bWrongBootReply = true;
    fwsim::CSimDevice device(config);
    ASSERT_TRUE(device.Start());
    CComPort port(rig.WaitPortName(), 1024, 20480);
    UpdateRequest request;
    request.strFirmwarePath = rig.WriteFirmware("fw.bin", 100);
    const CStageLog log = RunJob(port, request);
    EXPECT_EQ(log.Shape(), (Shape{0, 4, 6}));
    EXPECT_EQ(log.strFinal, "boot loader failed. check connection");
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(device.DownloadsFinished(), 0);
}

TEST(UpdateJob, RefusedBlockGivesCommunicationError) {
    CSimRig rig;
    auto config = rig.DeviceConfig(Personality::Application);
    config.faults.nFailBlock = 3;
    config.faults.dwFailStatus = 2;
    fwsim::CSimDevice device(config);
    ASSERT_TRUE(device.Start());
    CComPort port(rig.WaitPortName(), 1024, 20480);
    UpdateRequest request;
    request.strFirmwarePath = rig.WriteFirmware("fw.bin", 2000);
    const CStageLog log = RunJob(port, request);
    EXPECT_EQ(log.Shape(), (Shape{0, 4, 5, 6}));
    EXPECT_EQ(log.progress, (std::vector<int>{11, 23})); // the reports before it stay
    EXPECT_EQ(log.strFinal, "Communication Error");
    EXPECT_EQ(device.DownloadsFinished(), 0);
}

TEST(UpdateJob, DeviceAlreadyInBootLoader) {
    CSimRig rig;
    fwsim::CSimDevice device(rig.DeviceConfig(Personality::BootLoader));
    ASSERT_TRUE(device.Start());
    CComPort port(rig.WaitPortName(), 1024, 20480);
    UpdateRequest request;
    request.status.pszSerial = "SN-previous-job";
    request.strFirmwarePath = rig.WriteFirmware("boot.bin", 5000);
    const CStageLog log = RunJob(port, request);
    EXPECT_EQ(log.Shape(), (Shape{0, 4, 5, 1}));
    EXPECT_EQ(log.strSerialAtUpdating, "SN-previous-job");
    EXPECT_EQ(request.pszVersion, nullptr);
    EXPECT_EQ(log.strFinal, kTextSuccess);
    EXPECT_EQ(device.FlashAt(0x108000, 5000), ReadAll(request.strFirmwarePath));
}

TEST(UpdateJob, UnusableFirmwareFilesAreRefused) {
    CSimRig rig;
    // A boot loader answers detection at once, so the file check comes quickly.
    fwsim::CSimDevice device(rig.DeviceConfig(Personality::BootLoader));
    ASSERT_TRUE(device.Start());
    CComPort port(rig.WaitPortName(), 1024, 20480);
    ASSERT_TRUE(port.IsOpen());
    const std::string cases[] = {rig.WriteFirmware("big.bin", 176129), "",
                                 rig.Root() + "/missing.bin", rig.Root()};
    for (const std::string& strPath : cases) {
        UpdateRequest request;
        request.strFirmwarePath = strPath;
        const CStageLog log = RunJob(port, request);
        EXPECT_EQ(log.Shape(), (Shape{0, 6})) << strPath;
        EXPECT_EQ(log.strFinal, "invalid firmware file") << strPath;
        EXPECT_TRUE(port.IsOpen()) << strPath;
    }
    EXPECT_EQ(device.DownloadsFinished(), 0);
}

TEST(UpdateJob, EmptyFileIsAnEmptyImage) {
    CSimRig rig;
    fwsim::CSimDevice device(rig.DeviceConfig(Personality::Application));
    ASSERT_TRUE(device.Start());
    CComPort port(rig.WaitPortName(), 1024, 20480);
    UpdateRequest request;
    request.strFirmwarePath = rig.WriteFirmware("empty.bin", 0);
    const CStageLog log = RunJob(port, request);
    EXPECT_EQ(log.Shape(), (Shape{0, 4, 1})); // no block, so no progress report
    EXPECT_EQ(log.nSizeAtUpdating, 0);
    EXPECT_EQ(device.DownloadsFinished(), 1);
    EXPECT_EQ(device.FlashAt(0x108000, 16), std::vector<uint8_t>(16, 0xFF));
}
