// The workflows every front end shares, against the simulated device over ptys
// with the tests' shortened timings: the converter search, the connect step,
// the manual update on its own thread, and the auto loop with a scripted operator.

#include "device/Sha256.h"
#include "records/CUnitRecordLog.h"
#include "serial/CComPort.h"
#include "serial/Clock.h"
#include "serial/PortDiscovery.h"
#include "serial/Utf8Text.h"
#include "tests/support/CSimRig.h"
#include "tests/support/CTempRoot.h"
#include "workflows/CAutoLoop.h"
#include "workflows/CManualUpdate.h"
#include "workflows/CParallelAutoLoop.h"
#include "workflows/CPortGoneOperator.h"
#include "workflows/CRetryingJob.h"
#include "workflows/CSlotMap.h"
#include "workflows/ConnectStep.h"
#include "workflows/ConverterSearch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace fwup;
using fwsim::Personality;
using fwtest::CSimRig;
using fwtest::FileLines;
using fwtest::TestTimings;

namespace {

std::vector<uint8_t> ReadAll(const std::string& strPath) {
    std::ifstream file(strPath, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// Everything a front end would hear, as lines; safe to read once the worker is done.
class CRecorder : public IAutoObserver {
public:
    std::function<void(int)> onProgress; // on the job's thread, at each progress report

    void OnStage(const DeviceUnit& unit, UpdateStage eStage, const UpdateStatus& status) override {
        if (eStage == StageProgress) {
            if (onProgress) {
                onProgress(status.nProgress);
            }
            if (Last() == "progress " + unit.strPortName) {
                return; // a run of progress reports is one line
            }
            Add("progress " + unit.strPortName);
            return;
        }
        std::string strLine = "stage " + std::to_string(eStage) + " " + unit.strPortName;
        if (eStage == StageUpdating) {
            strLine += " serial " + status.optSerial.value_or("none");
        }
        Add(strLine);
    }
    void OnJobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                    const UpdateRequest&) override {
        // The job has let the port go: another open of it is not refused as busy
        // (after a success the device may be restarting, its port not yet back).
        CComPort probe(unit.strPortName, 1024, 20480);
        const bool bHeld = probe.GetOpenError().eProblem == PortOpenProblem::Busy;
        Add("ended " + unit.strPortName + " " + OutcomeText(outcome.eKind) +
            (bHeld ? " (port held)" : " (port free)"));
        std::lock_guard<std::mutex> lock(m_mutex);
        m_outcomes.push_back(outcome);
    }
    void OnRetry(const DeviceUnit& unit, const UpdateOutcome& previous) override {
        Add("retry " + unit.strPortName + " " + std::to_string(unit.nAttempt) + " after " +
            OutcomeText(previous.eKind));
    }
    void OnLoopStarted() override { Add("loop started"); }
    void OnSearching() override { ++m_nSearches; }
    int Searches() const { return m_nSearches.load(); }
    void OnNothingFound(int nSearchPos) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_searchPositions.push_back(nSearchPos);
    }
    void OnDeviceFound(const DeviceUnit& unit) override { Add("found " + unit.strPortName); }
    void OnDeviceDone(const DeviceUnit& unit, const AutoTally& tally) override {
        Add("done " + unit.strPortName + " " + std::to_string(tally.nPassed) + "/" +
            std::to_string(tally.nFailed));
    }
    void OnLoopEnded(const AutoTally& tally) override {
        Add("loop ended " + std::to_string(tally.nPassed) + "/" + std::to_string(tally.nFailed));
    }

    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    std::vector<int> SearchPositions() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_searchPositions;
    }
    std::vector<UpdateOutcome> Outcomes() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_outcomes;
    }

private:
    void Add(const std::string& strLine) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back(strLine);
    }
    std::string Last() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines.empty() ? std::string() : m_lines.back();
    }

    mutable std::mutex m_mutex;
    std::atomic<int> m_nSearches{0};
    std::vector<std::string> m_lines;
    std::vector<int> m_searchPositions;
    std::vector<UpdateOutcome> m_outcomes;
};

// How many of lines start with strPrefix.
long CountLines(const std::vector<std::string>& lines, const std::string& strPrefix) {
    return static_cast<long>(std::count_if(lines.begin(), lines.end(), [&](const std::string& s) {
        return s.rfind(strPrefix, 0) == 0;
    }));
}

bool WaitFor(const std::function<bool()>& pred, uint32_t dwTimeoutMs) {
    const uint32_t dwStart = GetTickCount();
    while (!pred()) {
        if (TicksSince(dwStart) >= dwTimeoutMs) {
            return false;
        }
        SleepMs(10);
    }
    return true;
}

} // namespace

// --- Converter search ----------------------------------------------------------------

TEST(ConverterSearch, DescriptionMatchesIgnoringTrailingBlanksOnly) {
    const struct {
        const char* pszName;
        bool bMatch;
    } rows[] = {
        {"AT91 USB to Serial Converter (COM3)", true},
        {"AT91 USB to Serial Converter  (COM12)", true},
        {"USB Serial Device (COM4)", false},
        {"at91 USB to Serial Converter (COM3)", false},
        {"AT91 USB to Serial Converter 2 (COM5)", false},
        {"AT91 USB to Serial Converter", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(DescriptionMatches(row.pszName, kConverterDescription), row.bMatch)
            << row.pszName;
    }
}

TEST(ConverterSearch, TakesTheFirstConverterInListOrder) {
    const auto record = [](const std::string& strName, int nPort) {
        PortRecord entry;
        entry.strName = strName;
        entry.nPort = nPort;
        return entry;
    };
    EXPECT_FALSE(FindConverter({record("USB Serial Device (COM1)", 1)}));
    const std::optional<PortRecord> found = FindConverter(
        {record("USB Serial Device (COM1)", 1), record("AT91 USB to Serial Converter (COM5)", 5),
         record("AT91 USB to Serial Converter (COM3)", 3)});
    ASSERT_TRUE(found);
    EXPECT_EQ(found->nPort, 5);
}

// --- Connect step ----------------------------------------------------------------------

TEST(ConnectStep, BootVersionTakesTheLowFourBitsOfEachByte) {
    EXPECT_EQ(BootVersionText(0x1A2B3C4D), "boot v10.11.12.13");
    EXPECT_EQ(BootVersionText(0x01020304), "boot v1.2.3.4");
    EXPECT_EQ(BootVersionText(-2), "boot v15.15.15.14");
}

TEST(ConnectStep, TellsBootLoaderApplicationSilenceAndAPortThatDoesNotOpen) {
    struct Row {
        const char* pszName;
        Personality eStart;
        bool bSilent;
        ConnectKind eKind;
    };
    const Row rows[] = {
        {"application", Personality::Application, false, ConnectKind::Application},
        {"boot loader", Personality::BootLoader, false, ConnectKind::BootLoader},
        {"silent application", Personality::Application, true, ConnectKind::NoAnswer},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszName);
        CSimRig rig;
        fwsim::SimDeviceConfig config = rig.DeviceConfig(row.eStart);
        config.faults.bNoVersionReply = row.bSilent;
        fwsim::CSimDevice device(config);
        ASSERT_TRUE(device.Start());
        const std::string strName = rig.WaitPortName();
        ConnectResult result = ConnectDevice(strName, TestTimings());
        EXPECT_EQ(result.eKind, row.eKind);
        EXPECT_EQ(result.Connected(), row.eKind != ConnectKind::NoAnswer);
        switch (row.eKind) {
        case ConnectKind::Application:
            EXPECT_EQ(result.optVersion.value_or("-"), "2.0.0.1");
            EXPECT_EQ(result.optSerial.value_or("-"), config.strSerial);
            EXPECT_EQ(result.nBootInfo, -1);
            break;
        case ConnectKind::BootLoader:
            EXPECT_EQ(result.nBootInfo, static_cast<int32_t>(config.dwBootStatus));
            EXPECT_FALSE(result.optVersion);
            break;
        default:
            // Nothing answered: the port is let go at once.
            EXPECT_TRUE(CComPort(strName, 1024, 20480).IsOpen());
            break;
        }
        if (result.Connected()) {
            EXPECT_TRUE(result.pSession->Port().IsOpen());
            EXPECT_EQ(result.strDeviceNode, result.pSession->Port().GetDeviceNode());
        }
    }

    CSimRig rig; // no device at all
    const ConnectResult result =
        ConnectDevice("AT91 USB to Serial Converter (COM9)", TestTimings());
    EXPECT_EQ(result.eKind, ConnectKind::PortNotOpen);
    EXPECT_FALSE(result.strCause.empty());
    EXPECT_FALSE(result.Connected());
}

// --- Manual update ----------------------------------------------------------------------

TEST(ManualUpdate, RunsOnItsThreadAndLetsThePortGoBeforeItEnds) {
    CSimRig rig;
    fwsim::CSimDevice device(rig.DeviceConfig(Personality::Application));
    ASSERT_TRUE(device.Start());
    const std::string strImage = rig.WriteFirmware("fw.bin", 20000);
    ConnectResult connected = ConnectDevice(rig.WaitPortName(), TestTimings());
    ASSERT_TRUE(connected.Connected());
    const std::string strName = connected.pSession->Port().GetDeviceName();

    CRecorder recorder;
    UpdateRequest request;
    request.strFirmwarePath = strImage;
    CManualUpdate manual(recorder);
    ASSERT_TRUE(manual.Start(connected.pSession, request));
    EXPECT_FALSE(connected.pSession); // the run holds the session now
    EXPECT_FALSE(manual.Start(connected.pSession, request)) << "nothing to run";
    ASSERT_TRUE(WaitFor([&] { return !manual.IsRunning(); }, 20000));
    manual.Join();

    const std::vector<std::string> expected = {
        "stage 0 " + strName,
        "stage 4 " + strName + " serial SN00000001",
        "progress " + strName,
        "stage 7 " + strName, // the read-back's wait and its finding
        "stage 7 " + strName,
        "stage 1 " + strName,
        "ended " + strName + " " + OutcomeText(OutcomeKind::Success) + " (port free)",
    };
    EXPECT_EQ(recorder.Lines(), expected);
    EXPECT_EQ(device.FlashAt(fwsim::kCodeAddress, 20000), ReadAll(strImage));
}

TEST(ManualUpdate, StopEndsTheDownloadAtAPacketBoundary) {
    CSimRig rig;
    fwsim::CSimDevice device(rig.DeviceConfig(Personality::BootLoader));
    ASSERT_TRUE(device.Start());
    ConnectResult connected = ConnectDevice(rig.WaitPortName(), TestTimings());
    ASSERT_TRUE(connected.Connected());

    CRecorder recorder;
    UpdateRequest request;
    request.strFirmwarePath = rig.WriteFirmware("fw.bin", 176128);
    CManualUpdate manual(recorder);
    recorder.onProgress = [&](int) { manual.RequestStop(); }; // the first block is in
    ASSERT_TRUE(manual.Start(connected.pSession, request));
    ASSERT_TRUE(WaitFor([&] { return !manual.IsRunning(); }, 20000));
    manual.Join();
    ASSERT_EQ(recorder.Outcomes().size(), 1u);
    EXPECT_EQ(recorder.Outcomes()[0].eKind, OutcomeKind::Interrupted);
    EXPECT_EQ(device.DownloadsFinished(), 0);
}

// --- Auto loop ----------------------------------------------------------------------------

// The bench operator: takes the device just updated off, plugs the next one in,
// and lets the port-gone operator confirm that the first has gone.
class CScriptedOperator : public IOperator {
public:
    std::function<void(const DeviceUnit&)> onAsked;
    void AskToRemove(const DeviceUnit& unit, const CAutoLoop& loop) override {
        onAsked(unit);
        m_gone.AskToRemove(unit, loop);
    }

private:
    CPortGoneOperator m_gone{10, TestTimings().nDetectOpenMs};
};

TEST(AutoLoop, UpdatesDevicesPluggedOneAfterAnotherAndCountsThem) {
    CSimRig rig;
    const std::string strImage = rig.WriteFirmware("fw.bin", 20000, 9);
    std::vector<std::unique_ptr<fwsim::CSimDevice>> devices;
    const auto plug = [&](int n) {
        // The third starts in its boot loader, which tells no serial.
        fwsim::SimDeviceConfig config = rig.DeviceConfig(
            n == 3 ? Personality::BootLoader : Personality::Application, "1-" + std::to_string(n));
        config.strSerial = "SN" + std::to_string(n);
        config.faults.nFailBlock = n == 2 ? 2 : 0; // the second device fails its download
        devices.push_back(std::make_unique<fwsim::CSimDevice>(config));
        return devices.back()->Start();
    };
    ASSERT_TRUE(plug(1));

    CRecorder recorder;
    CScriptedOperator bench;
    bench.onAsked = [&](const DeviceUnit&) {
        devices.back()->Unplug();
        if (devices.size() < 3) {
            plug(static_cast<int>(devices.size()) + 1);
        }
    };
    UpdateRequest request;
    request.strFirmwarePath = strImage;
    CAutoLoop loop(request, recorder, bench, TestTimings(), 3, 1); // one retry
    const AutoTally tally = loop.Run();
    EXPECT_EQ(tally.nPassed, 2);
    EXPECT_EQ(tally.nFailed, 1);

    std::vector<std::string> summary; // the loop's own lines and the job ends
    for (const std::string& strLine : recorder.Lines()) {
        if (strLine.rfind("stage", 0) != 0 && strLine.rfind("progress", 0) != 0) {
            summary.push_back(strLine);
        }
    }
    const std::string strCom = "AT91 USB to Serial Converter (COM";
    const std::string strOk = OutcomeText(OutcomeKind::Success);
    const std::string strError = OutcomeText(OutcomeKind::CommunicationError);
    const std::vector<std::string> expected = {
        "loop started",
        "found " + strCom + "1)",
        "ended " + strCom + "1) " + strOk + " (port free)",
        "done " + strCom + "1) 1/0",
        "found " + strCom + "2)",
        "ended " + strCom + "2) " + strError + " (port free)",
        "retry " + strCom + "2) 2 after " + strError, // still listed: tried once more
        "ended " + strCom + "2) " + strError + " (port free)",
        "done " + strCom + "2) 1/1",
        "found " + strCom + "3)",
        "ended " + strCom + "3) " + strOk + " (port free)",
        "done " + strCom + "3) 2/1",
        "loop ended 2/1",
    };
    EXPECT_EQ(summary, expected);
    const std::vector<std::string> lines = recorder.Lines();
    // The retry found the boot loader and kept the serial; the third reader did not
    // get the second one's.
    for (const auto& [strUpdating, nTimes] :
         std::map<std::string, int>{{"stage 4 " + strCom + "1) serial SN1", 1},
                                    {"stage 4 " + strCom + "2) serial SN2", 2},
                                    {"stage 4 " + strCom + "3) serial none", 1}}) {
        EXPECT_EQ(std::count(lines.begin(), lines.end(), strUpdating), nTimes) << strUpdating;
    }
    EXPECT_EQ(devices[0]->FlashAt(fwsim::kCodeAddress, 20000), ReadAll(strImage));
    EXPECT_EQ(devices[2]->FlashAt(fwsim::kCodeAddress, 20000), ReadAll(strImage));
    EXPECT_EQ(devices[1]->DownloadsFinished(), 0);
}

// A reader that stays away after its download: the read-back has waited for its
// return already, so the loop does not wait for it again (here: a minute).
TEST(AutoLoop, AReaderThatStaysAwayThroughTheReadBackIsNotWaitedForAgain) {
    CSimRig rig;
    const std::string strImage = rig.WriteFirmware("fw.bin", 3000);
    fwsim::SimDeviceConfig config = rig.DeviceConfig(Personality::Application, "1-1");
    config.bReturnAsApp = false;
    fwsim::CSimDevice device(config);
    ASSERT_TRUE(device.Start());

    CRecorder recorder;
    CPortGoneOperator gone(10, 60000);
    UpdateRequest request;
    request.strFirmwarePath = strImage;
    CAutoLoop loop(request, recorder, gone, TestTimings(), 1, 0);
    std::atomic<bool> bEnded{false};
    std::thread runner([&] {
        loop.Run();
        bEnded = true;
    });
    EXPECT_TRUE(WaitFor([&] { return bEnded.load(); }, 20000));
    loop.RequestStop(); // ends the wait at once if it was still waiting
    runner.join();
    EXPECT_EQ(request.eVerified, VerifyState::No);
    EXPECT_EQ(device.DownloadsFinished(), 1);
}

TEST(AutoLoop, SearchStepsTheBarAndEndsWhenStopped) {
    CSimRig rig; // no converter: an unrelated USB serial device only
    fwsim::SimDeviceConfig config = rig.DeviceConfig(Personality::Application);
    config.strAppProduct = config.strBootProduct = "USB Serial Device";
    fwsim::CSimDevice other(config);
    ASSERT_TRUE(other.Start());

    CRecorder recorder;
    CPortGoneOperator gone;
    UpdateRequest request;
    CAutoLoop loop(request, recorder, gone, TestTimings());
    ASSERT_TRUE(loop.Start());
    EXPECT_FALSE(loop.Start()) << "one loop at a time";
    ASSERT_TRUE(WaitFor([&] { return recorder.SearchPositions().size() >= 13; }, 10000));
    loop.RequestStop();
    loop.Join();
    EXPECT_FALSE(loop.IsRunning());

    const std::vector<int> positions = recorder.SearchPositions();
    for (size_t i = 0; i < positions.size(); ++i) {
        EXPECT_EQ(positions[i], static_cast<int>(i % 11) * 10) << i;
    }
    EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"loop started", "loop ended 0/0"}));
    EXPECT_EQ(other.DownloadsFinished(), 0);
}

// --- Several readers at once and their records ------------------------------------

namespace {

// The recorder that also keeps the unit records, as the front ends do.
class CRecordingObserver : public CRecorder {
public:
    explicit CRecordingObserver(CUnitRecordLog& log) : m_log(log) {}
    void OnStage(const DeviceUnit& unit, UpdateStage eStage, const UpdateStatus& status) override {
        if (eStage == StageStart) {
            m_log.JobStarted(unit);
        }
        CRecorder::OnStage(unit, eStage, status);
    }
    void OnJobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                    const UpdateRequest& request) override {
        EXPECT_TRUE(m_log.JobEnded(unit, outcome, request));
        CRecorder::OnJobEnded(unit, outcome, request);
        if (onEnded) {
            onEnded(unit);
        }
    }
    std::function<void(const DeviceUnit&)> onEnded; // on the job's thread, after each attempt
    void OnDeviceRemoved(const DeviceUnit& unit) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_removed.push_back(unit.strPortName);
    }
    std::vector<std::string> Removed() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_removed;
    }

private:
    CUnitRecordLog& m_log;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_removed;
};

std::string JsonField(const std::string& strLine, const std::string& strKey) {
    const size_t nAt = strLine.find("\"" + strKey + "\":");
    if (nAt == std::string::npos) {
        return "(missing)";
    }
    const size_t nStart = nAt + strKey.size() + 3;
    return strLine.substr(nStart, strLine.find_first_of(",}", nStart) - nStart);
}

} // namespace

TEST(ParallelAutoLoop, FlashesReadersPluggedAtOnceAndTakesAConnectorAgainOnlyAfterRemoval) {
    CSimRig rig;
    const std::string strImage = rig.WriteFirmware("fw.bin", 30000, 5);
    std::vector<std::unique_ptr<fwsim::CSimDevice>> devices;
    const auto plug = [&](int n, const std::string& strSerial) {
        fwsim::SimDeviceConfig config =
            rig.DeviceConfig(Personality::Application, "1-" + std::to_string(n));
        config.strAppTty = config.strBootTty = "ttyACM" + std::to_string(n);
        config.strSerial = strSerial;
        devices.push_back(std::make_unique<fwsim::CSimDevice>(config));
        return devices.back()->Start();
    };
    for (int n = 1; n <= 3; ++n) {
        ASSERT_TRUE(plug(n, "SN-" + std::to_string(n)));
    }
    CUnitRecordLog log;
    std::string strError;
    const std::string strRecords = rig.Root() + "/records.jsonl";
    ASSERT_TRUE(log.Open(strRecords, strError)) << strError;
    CRecordingObserver observer(log);
    CParallelAutoLoop loop(strImage, observer, TestTimings(), 4);
    AutoTally tally;
    std::thread runner([&] { tally = loop.Run(); });

    ASSERT_TRUE(WaitFor([&] { return CountLines(observer.Lines(), "done ") == 3; }, 20000));
    // All three ran side by side: every one was found before the first ended.
    const auto lines = observer.Lines();
    const auto firstEnd = std::find_if(
        lines.begin(), lines.end(), [](const std::string& s) { return s.rfind("ended", 0) == 0; });
    EXPECT_EQ(std::count_if(lines.begin(), firstEnd,
                            [](const std::string& s) { return s.rfind("found", 0) == 0; }),
              3);
    // Still plugged: three more scans list them and take none again.
    const int nSearches = observer.Searches();
    ASSERT_TRUE(WaitFor([&] { return observer.Searches() >= nSearches + 3; }, 5000));
    EXPECT_EQ(CountLines(observer.Lines(), "found "), 3);
    // The first reader is taken off (after its restart the port was back) and,
    // once the loop has seen that, another one is plugged into that connector.
    devices[0]->Unplug();
    ASSERT_TRUE(WaitFor([&] { return observer.Removed().size() == 1; }, 5000));
    EXPECT_EQ(observer.Removed().front(), "AT91 USB to Serial Converter (COM1)");
    ASSERT_TRUE(plug(1, "SN-4"));
    runner.join();
    EXPECT_EQ(log.Close().nStored, 4); // every record written before the file is read
    EXPECT_EQ(tally.nPassed, 4);
    EXPECT_EQ(tally.nFailed, 0);
    for (const auto& pDevice : devices) {
        EXPECT_EQ(pDevice->FlashAt(fwsim::kCodeAddress, 30000), ReadAll(strImage));
    }

    const std::vector<std::string> records = FileLines(strRecords);
    ASSERT_EQ(records.size(), 4u);
    const std::vector<uint8_t> image = ReadAll(strImage);
    std::set<std::string> serials;
    for (const std::string& strLine : records) {
        serials.insert(JsonField(strLine, "serial"));
        EXPECT_EQ(JsonField(strLine, "result"),
                  "\"" + JsonEscape(OutcomeText(OutcomeKind::Success)) + "\"");
        EXPECT_EQ(JsonField(strLine, "sha256"),
                  "\"" + Sha256Hex(image.data(), image.size()) + "\"");
        EXPECT_EQ(JsonField(strLine, "version"), "\"2.0.0.1\"");
        EXPECT_EQ(JsonField(strLine, "file"), "\"fw.bin\"");
        EXPECT_EQ(JsonField(strLine, "size"), "30000");
        EXPECT_EQ(JsonField(strLine, "exit_code"), "0");
    }
    EXPECT_EQ(serials, (std::set<std::string>{"\"SN-1\"", "\"SN-2\"", "\"SN-3\"", "\"SN-4\""}));
}

// A reader that never comes back after its download is taken off once the wait for
// a port to appear has passed; one whose job failed stays listed, so it is neither
// taken off nor taken again until it is unplugged.
TEST(ParallelAutoLoop, RemovesAReaderThatStaysAwayAndKeepsAFailedOneUntilUnplugged) {
    CSimRig rig;
    const std::string strImage = rig.WriteFirmware("fw.bin", 3000);
    fwsim::SimDeviceConfig gone = rig.DeviceConfig(Personality::Application, "1-1");
    gone.strAppTty = gone.strBootTty = "ttyACM1";
    gone.bReturnAsApp = false;
    fwsim::SimDeviceConfig failing = rig.DeviceConfig(Personality::Application, "1-2");
    failing.strAppTty = failing.strBootTty = "ttyACM2";
    failing.faults.bWrongBootReply = true;
    fwsim::CSimDevice goneDevice(gone), failingDevice(failing);
    ASSERT_TRUE(goneDevice.Start() && failingDevice.Start());
    std::map<std::string, std::string> names; // tty -> listed name
    for (const PortRecord& record : ScanPorts()) {
        names[std::filesystem::path(record.strDeviceNode).filename().string()] = record.strName;
    }
    ASSERT_EQ(names.size(), 2u);

    CUnitRecordLog log;
    std::string strError;
    ASSERT_TRUE(log.Open(rig.Root() + "/records.jsonl", strError)) << strError;
    CRecordingObserver observer(log);
    CParallelAutoLoop loop(strImage, observer, TestTimings());
    AutoTally tally;
    std::thread runner([&] { tally = loop.Run(); });
    EXPECT_TRUE(WaitFor([&] { return CountLines(observer.Lines(), "done ") == 2; }, 20000));
    EXPECT_TRUE(
        WaitFor([&] { return observer.Removed().size() == 1; }, TestTimings().nDetectOpenMs * 5));
    EXPECT_EQ(observer.Removed(), std::vector<std::string>{names["ttyACM1"]});
    const int nSearches = observer.Searches();
    EXPECT_TRUE(WaitFor([&] { return observer.Searches() >= nSearches + 3; }, 5000));
    EXPECT_EQ(observer.Removed().size(), 1u) << "the failed reader is still plugged";
    EXPECT_EQ(CountLines(observer.Lines(), "found "), 2);

    failingDevice.Unplug();
    EXPECT_TRUE(WaitFor([&] { return observer.Removed().size() == 2; }, 5000));
    loop.RequestStop();
    runner.join();
    EXPECT_EQ(tally.nPassed, 1);
    EXPECT_EQ(tally.nFailed, 1);
    ASSERT_EQ(observer.Removed().size(), 2u);
    EXPECT_EQ(observer.Removed()[1], names["ttyACM2"]);
}

// A flaky contact: the first download fails at a block ("Communication Error") and
// the reader stays listed. Stop lets the reader in flight take its retry, which
// passes: two records, attempts 1 and 2, the slot's label, the unit counted once.
// Stop now at the same moment allows no retry.
TEST(ParallelAutoLoop, RetriesAFlakyReaderUnlessStoppedNow) {
    for (const bool bStopNow : {false, true}) {
        SCOPED_TRACE(bStopNow ? "stop now" : "stop");
        CSimRig rig;
        const std::string strImage = rig.WriteFirmware("fw.bin", 8000, 3);
        fwsim::SimDeviceConfig config = rig.DeviceConfig(Personality::Application, "1-7");
        config.faults.nFailBlock = 2;
        config.faults.nFailTimes = 1;
        fwsim::CSimDevice device(config);
        ASSERT_TRUE(device.Start());
        // The connector as the simulator publishes it: <usb path>:<interface> below usb1.
        CSlotMap slots;
        std::string strError;
        ASSERT_TRUE(slots.LoadText("pci0000:00/0000:00:14.0/usb1/1-7:1-7:1.0 Left fixture\n",
                                   "slots.txt", strError))
            << strError;
        CUnitRecordLog log;
        const std::string strRecords = rig.Root() + "/records.jsonl";
        ASSERT_TRUE(log.Open(strRecords, strError)) << strError;
        CRecordingObserver observer(log);
        CParallelAutoLoop loop(strImage, observer, TestTimings(), 0, 2, &slots);
        observer.onEnded = [&](const DeviceUnit& unit) {
            if (unit.nAttempt == 1) {
                bStopNow ? loop.InterruptDevices() : loop.RequestStop();
            }
        };
        const AutoTally tally = loop.Run(); // ends once the reader in flight is done
        EXPECT_EQ(log.Close().nStored, bStopNow ? 1 : 2);

        const std::string strFailed =
            "\"" + JsonEscape(OutcomeText(OutcomeKind::CommunicationError)) + "\"";
        const std::string strPassed = "\"" + JsonEscape(OutcomeText(OutcomeKind::Success)) + "\"";
        const std::vector<std::string> records = FileLines(strRecords);
        ASSERT_EQ(records.size(), bStopNow ? 1u : 2u);
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(JsonField(records[i], "attempt"), std::to_string(i + 1));
            EXPECT_EQ(JsonField(records[i], "slot"), "\"Left fixture\"");
            EXPECT_EQ(JsonField(records[i], "result"), i == 0 ? strFailed : strPassed);
            EXPECT_EQ(JsonField(records[i], "serial"), "\"SN00000001\"");
        }
        const auto lines = observer.Lines();
        EXPECT_EQ(CountLines(lines, "retry "), bStopNow ? 0 : 1);
        EXPECT_EQ(CountLines(lines, "done "), 1) << "a retried unit is done once";
        EXPECT_EQ(tally.nPassed, bStopNow ? 0 : 1);
        EXPECT_EQ(tally.nFailed, bStopNow ? 1 : 0);
        EXPECT_EQ(device.DownloadsFinished(), bStopNow ? 0 : 1);
        if (!bStopNow) {
            EXPECT_EQ(device.FlashAt(fwsim::kCodeAddress, 8000), ReadAll(strImage));
        }
    }
}

// The retrying job's endings without a retry, retries left in each: the reader
// gone for good (after the wait for its port), a failure a second try would only
// repeat, and a stop while the job waits for the reader's port.
TEST(RetryingJob, EndsWithoutARetryWhenTheReaderIsGoneTheFailureIsFinalOrAStopComes) {
    const auto unplugAtBlock2 = [](fwsim::SimFaults& f) { f.nUnplugAtBlock = 2; };
    const struct {
        const char* pszName;
        Personality eStart;
        std::function<void(fwsim::SimFaults&)> setFaults;
        uint32_t nPortWaitMs; // the wait for the reader's port to be listed again
        bool bStopAfterFirst; // the stop comes once the first attempt has ended
        OutcomeKind eKind;
        uint32_t nMinAfterMs; // from the first attempt's end to Run's return
    } rows[] = {
        {"reader gone", Personality::BootLoader, unplugAtBlock2, 700, false,
         OutcomeKind::CommunicationError, 650},
        {"not detected", Personality::Application,
         [](fwsim::SimFaults& f) { f.bNoVersionReply = true; }, 60000, false,
         OutcomeKind::NotDetected, 0},
        {"stop while waiting for the port", Personality::BootLoader, unplugAtBlock2, 60000, true,
         OutcomeKind::CommunicationError, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pszName);
        CSimRig rig;
        fwsim::SimDeviceConfig config = rig.DeviceConfig(row.eStart);
        row.setFaults(config.faults);
        fwsim::CSimDevice device(config);
        ASSERT_TRUE(device.Start());
        ProtocolTimings timings = TestTimings();
        timings.nDetectOpenMs = row.nPortWaitMs;
        auto pSession = std::make_unique<CDeviceSession>(rig.WaitPortName(), timings);
        ASSERT_TRUE(pSession->Port().IsOpen());
        const DeviceUnit unit = UnitOfPort(pSession->Port());
        CRetryingJob job(std::move(pSession), unit, timings, 2);
        UpdateRequest request;
        request.strFirmwarePath = rig.WriteFirmware("fw.bin", 2000);
        CRecorder recorder;
        UpdateOutcome outcome;
        std::thread runner([&] { outcome = job.Run(request, recorder); });
        EXPECT_TRUE(WaitFor([&] { return !recorder.Outcomes().empty(); }, 20000));
        const uint32_t dwFirstEnded = GetTickCount();
        if (row.bStopAfterFirst) {
            job.RequestStop();
        }
        runner.join();
        const uint32_t dwAfter = TicksSince(dwFirstEnded);
        EXPECT_EQ(outcome.eKind, row.eKind) << outcome.strCause;
        EXPECT_EQ(recorder.Outcomes().size(), 1u);
        EXPECT_EQ(CountLines(recorder.Lines(), "retry "), 0);
        EXPECT_EQ(job.Unit().nAttempt, 1);
        EXPECT_GE(dwAfter, row.nMinAfterMs) << "the reader's port was not waited for";
        // Far below a 60 s wait: only the outcome or the stop can have ended it.
        EXPECT_LT(dwAfter, row.nMinAfterMs + 5000);
    }
}

// Slots files as an operator writes them, and the labels of connectors no file names.
TEST(SlotMap, ParsesLabelsRefusesMalformedLinesByNumberAndLabelsTheRestByFirstSight) {
    std::vector<SlotEntry> entries;
    std::string strError;
    ASSERT_TRUE(
        CSlotMap::ParseSlots("# bench A\n\n1-1.3:1.0 Slot 3\r\n  1-1.4:1.0\tLeft  fixture \n",
                             "slots.txt", entries, strError))
        << strError;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].strConnector, "1-1.3:1.0");
    EXPECT_EQ(entries[0].strLabel, "Slot 3");
    EXPECT_EQ(entries[1].strConnector, "1-1.4:1.0");
    EXPECT_EQ(entries[1].strLabel, "Left  fixture");

    const struct {
        const char* pszName;
        std::string strText;
        const char* pszError; // the start of the error
    } bad[] = {
        {"no label", "a A\n# c\n1-1:1.0   \n", "slots.txt:3: '1-1:1.0' has no label"},
        {"connector twice", "a A\nb B\na C\n", "slots.txt:3: connector a is named on line 1"},
        {"label twice", "a Slot 1\nb Slot 1\n", "slots.txt:2: label 'Slot 1' is given on line 1"},
        {"control character", "a A\nb B\x1b[2J\n", "slots.txt:2: a control character"},
    };
    for (const auto& row : bad) {
        EXPECT_FALSE(CSlotMap::ParseSlots(row.strText, "slots.txt", entries, strError))
            << row.pszName;
        EXPECT_EQ(strError.rfind(row.pszError, 0), 0u) << row.pszName << ": " << strError;
    }

    CSlotMap slots;
    fwtest::CTempRoot root(false);
    const std::string strFifo = root.Path() + "/fifo", strBig = root.Path() + "/big";
    ASSERT_EQ(::mkfifo(strFifo.c_str(), 0600), 0);
    std::ofstream(strBig) << std::string(CSlotMap::kMaxFileBytes, '#') << "\n";
    const struct {
        std::string strPath;
        const char* pszError;
    } unreadable[] = {
        {"/nonexistent/slots.txt", "/nonexistent/slots.txt: cannot be read"},
        {"/dev/zero", "/dev/zero: not a regular file"},
        {strFifo, ": not a regular file"}, // and the open never waits for a writer
        {root.Path(), ": not a regular file"},
        {strBig, ": larger than 1 MB, not a slots file"},
    };
    for (const auto& row : unreadable) {
        EXPECT_FALSE(slots.LoadFile(row.strPath, strError)) << row.strPath;
        EXPECT_EQ(strError, (row.pszError[0] == ':' ? row.strPath : "") + row.pszError);
    }
    ASSERT_TRUE(slots.LoadText("p Slot 2\nq Front\n", "slots.txt", strError)) << strError;
    EXPECT_EQ(slots.LabelOf("u"), "Slot 1");
    EXPECT_EQ(slots.LabelOf("v"), "Slot 3") << "the file gives Slot 2 to p";
    EXPECT_EQ(slots.LabelOf("u"), "Slot 1");
    EXPECT_EQ(slots.LabelOf("q"), "Front");
    EXPECT_EQ(slots.LabelOf("p"), "Slot 2");
    EXPECT_EQ(slots.LabelOf(""), "");
}

namespace {

// Outside text in JSON, on a terminal and in a SQL column: expected forms written
// out by hand; the JSON and SQL forms give the bytes back.
TEST(JsonText, EscapesControlsAndInvalidUtf8Recoverably) {
    struct Row {
        const char* pszName;
        std::string strIn;
        const char* pszJson;
        const char* pszDisplay;
        std::string strSql; // empty: as it came
    };
    const std::vector<Row> rows = {
        {"plain", "SN-1 \"a\\b\"", "SN-1 \\\"a\\\\b\\\"", "SN-1 \"a\\b\"", ""},
        {"C0 and DEL", "a\x1b]0;t\x07\n\x7f", "a\\u001b]0;t\\u0007\\n\\u007f",
         "a\\x1b]0;t\\x07\\x0a\\x7f", ""},
        {"C1 (U+009B)", "x\xc2\x9b", "x\\u009b", "x\\xc2\\x9b", ""},
        {"valid UTF-8 kept", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80",
         "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", ""},
        {"invalid bytes", "S\xff\xfe", "S\\udcff\\udcfe", "S\\xff\\xfe",
         "S\xee\xbf\xbf\xee\xbf\xbe"},
        {"truncated sequence", "\xe2\x82", "\\udce2\\udc82", "\\xe2\\x82",
         "\xee\xbf\xa2\xee\xbe\x82"},
        {"overlong and surrogate", "\xc0\xaf\xed\xa0\x80", "\\udcc0\\udcaf\\udced\\udca0\\udc80",
         "\\xc0\\xaf\\xed\\xa0\\x80",
         "\xee\xbf\x80\xee\xbe\xaf\xee\xbf\xad\xee\xbe\xa0\xee\xbe\x80"},
        {"NUL", std::string("a\0b", 3), "a\\u0000b", "a\\x00b",
         "a\xee\xbc\x80"
         "b"},
        {"U+EF80, the SQL form's own", "\xee\xbe\x80", "\xee\xbe\x80", "\xee\xbe\x80",
         "\xee\xbf\xae\xee\xbe\xbe\xee\xbe\x80"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(JsonEscape(row.strIn), row.pszJson) << row.pszName;
        EXPECT_EQ(DisplayText(row.strIn), row.pszDisplay) << row.pszName;
        const std::string strSql = row.strSql.empty() ? row.strIn : row.strSql;
        EXPECT_EQ(SqlText(row.strIn), strSql) << row.pszName;
        EXPECT_EQ(BytesFromSqlText(strSql), row.strIn) << row.pszName;
    }
}

} // namespace
