// The bench window's model: rows by slot, counters, log, and the parallel loop on
// its own thread, whose reports reach the GUI thread through a queue.

#include "windowmodel/CBenchWindowModel.h"

#include "device/FirmwareFile.h"
#include "device/Sha256.h"
#include "device/UpdateOutcome.h"
#include "serial/PortDiscovery.h"
#include "serial/Utf8Text.h"
#include "station/ImageVerdict.h"
#include "windowmodel/CWindowRecords.h"
#include "windowmodel/WindowTexts.h"
#include "workflows/CParallelAutoLoop.h"
#include "workflows/CSlotMap.h"
#include "workflows/ConverterSearch.h"
#include "workflows/IAutoObserver.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace fwup {

namespace {

using Clock = std::chrono::steady_clock;

// The window's caption before an image is loaded.
const std::string kTitle = std::string(kTextProductName) + " bench";

std::string Format(const char* pszFormat, double dValue) {
    char buf[64];
    std::snprintf(buf, sizeof buf, pszFormat, dValue);
    return buf;
}

std::string PercentText(int nPos) {
    return std::to_string(nPos) + " %";
}

std::string SecondsText(double dSeconds) {
    return Format("%.1f", dSeconds);
}

} // namespace

// --- Pure logic ---------------------------------------------------------------------

std::string BenchTitle(const std::string& strImageName) {
    return strImageName.empty() ? kTitle : kTitle + " \u2014 " + strImageName;
}

std::string FirstPassYieldText(int nFirstPassUnits, int nUnits) {
    if (nUnits <= 0) {
        return "-";
    }
    return Format("%.1f %%", 100.0 * nFirstPassUnits / nUnits);
}

std::string UnitsPerHourText(int nUnits, int64_t nElapsedMs) {
    if (nElapsedMs < 60000) {
        return "-"; // a rate from a few seconds would swing wildly
    }
    return Format("%.0f", nUnits * 3600000.0 / static_cast<double>(nElapsedMs));
}

std::string ElapsedText(int64_t nElapsedMs) {
    const int64_t nSeconds = nElapsedMs < 0 ? 0 : nElapsedMs / 1000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%" PRId64 ":%02d:%02d", nSeconds / 3600,
                  static_cast<int>(nSeconds / 60 % 60), static_cast<int>(nSeconds % 60));
    return buf;
}

std::string ShortHashText(const std::string& strHexDigest) {
    return strHexDigest.size() <= 16 ? strHexDigest : strHexDigest.substr(0, 16) + "...";
}

bool IsFailureStreak(const std::deque<bool>& recent) {
    if (recent.size() < static_cast<size_t>(kFailureStreak)) {
        return false;
    }
    for (size_t i = recent.size() - kFailureStreak; i < recent.size(); ++i) {
        if (recent[i]) {
            return false;
        }
    }
    return true;
}

std::string FixtureCheckText(const std::string& strSlot) {
    return "check the cable or fixture of " + strSlot;
}

// --- The loop's observer ----------------------------------------------------------------

// Runs on the readers' threads and the loop's: copies what the GUI thread needs
// and queues it. Only progress skips the queue (the latest value per slot).
class CBenchWindowModel::CRelay : public IAutoObserver {
public:
    explicit CRelay(CBenchWindowModel& owner) : m_owner(owner) {}

    void OnDeviceFound(const DeviceUnit& unit) override {
        m_owner.Post([&o = m_owner, strSlot = unit.strSlot, strPort = unit.strPortName] {
            o.OnUnitFound(strSlot, strPort);
        });
    }

    void OnStage(const DeviceUnit& unit, UpdateStage eStage, const UpdateStatus& status) override {
        CBenchWindowModel& o = m_owner;
        switch (eStage) {
        case StageStart:
            NoteStart(unit.strSlot);
            o.Post([&o, unit] { o.OnAttemptStarted(unit); }, unit.strSlot);
            break;
        case StageConnecting:
            o.Post([&o, strSlot = unit.strSlot] { o.OnUnitStage(strSlot, "connecting"); });
            break;
        case StageVerifying:
            o.Post([&o, strSlot = unit.strSlot] { o.OnUnitStage(strSlot, "verifying"); });
            break;
        case StageUpdating:
            o.Post([&o, unit, optSerial = status.optSerial] {
                o.OnUnitSerial(unit.strSlot, optSerial);
                o.ShowRunningAttempt(unit, optSerial);
                o.OnUnitStage(unit.strSlot, "updating");
            });
            break;
        case StageProgress:
            o.PostProgress(unit.strSlot, status.nProgress);
            break;
        default:
            break; // the end comes with OnJobEnded, which has the outcome
        }
    }

    void OnJobEnded(const DeviceUnit& unit, const UpdateOutcome& outcome,
                    const UpdateRequest& request) override {
        CBenchWindowModel& o = m_owner;
        std::string strRecordFailure;
        double dSeconds = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (auto itFailure = m_recordFailures.find(unit.strSlot);
                itFailure != m_recordFailures.end()) {
                strRecordFailure = std::move(itFailure->second);
                m_recordFailures.erase(itFailure);
            }
            auto it = m_starts.find(unit.strSlot);
            if (it != m_starts.end()) {
                dSeconds = std::chrono::duration<double>(Clock::now() - it->second).count();
            }
        }
        AttemptEnd end;
        end.unit = unit;
        end.strSlot = unit.strSlot;
        end.eKind = outcome.eKind;
        end.strCause = outcome.strCause;
        end.optVersion = request.optVersion;
        end.optVersionAfter = request.optVersionAfter;
        end.eVerified = request.eVerified;
        end.optSerial = request.status.optSerial;
        end.dSeconds = dSeconds;
        end.strRecordFailure = strRecordFailure;
        o.Post([&o, end = std::move(end)] { o.OnAttemptEnded(end); }, unit.strSlot);
    }

    // The recording observer's word, on the job's thread just before its
    // OnJobEnded: the unit's record was not taken.
    void OnRecordNotTaken(const DeviceUnit& unit, std::string strFailure) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_recordFailures[unit.strSlot] = std::move(strFailure);
    }

    void OnRetry(const DeviceUnit& unit, const UpdateOutcome& previous) override {
        m_owner.Post([&o = m_owner, unit, eKind = previous.eKind] { o.OnRetrying(unit, eKind); });
    }

    void OnDeviceDone(const DeviceUnit& unit, const AutoTally&) override {
        m_owner.Post([&o = m_owner, strSlot = unit.strSlot] { o.OnUnitDone(strSlot); });
    }

    void OnDeviceRemoved(const DeviceUnit& unit) override {
        m_owner.Post([&o = m_owner, strSlot = unit.strSlot] { o.OnUnitRemoved(strSlot); });
    }

    void OnLoopEnded(const AutoTally&) override {
        m_owner.Post([&o = m_owner] { o.OnLoopEnded(); });
    }

private:
    void NoteStart(const std::string& strSlot) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_starts[strSlot] = Clock::now();
    }

    CBenchWindowModel& m_owner;
    std::mutex m_mutex;
    std::map<std::string, Clock::time_point> m_starts;   // by slot, with m_mutex
    std::map<std::string, std::string> m_recordFailures; // by slot, with m_mutex
};

// --- The model ----------------------------------------------------------------------

CBenchWindowModel::CBenchWindowModel(IBenchView& view, std::function<bool()> fnWake)
    : m_view(view), m_gui(std::move(fnWake)), m_pSlots(std::make_unique<CSlotMap>()),
      m_pRelay(std::make_unique<CRelay>(*this)), m_recording(*m_pRelay) {}

CBenchWindowModel::~CBenchWindowModel() {
    Shutdown();
}

void CBenchWindowModel::SetRecordSink(IRecordSink* pSink) {
    m_pRecords = pSink;
    m_recording.SetSink(pSink, [this](const DeviceUnit& unit) {
        m_pRelay->OnRecordNotTaken(unit, RecordNotTakenText(*m_pRecords));
    });
    if (pSink != nullptr) {
        pSink->SetNoticeSink([this](const std::string& strNotice) {
            Post([this, strNotice] { AddLog(DisplayText(strNotice)); });
        });
    }
}

bool CBenchWindowModel::Init(const BenchOptions& options, std::string& strError) {
    if (!options.strSlotsPath.empty() && !m_pSlots->LoadFile(options.strSlotsPath, strError)) {
        return false;
    }
    m_nRetries = options.nRetries;
    m_optProfile = options.optProfile;
    m_bVerify = options.bVerify;
    m_optExpectVersion = options.ExpectVersion();
    m_strTitle = BenchTitle("");
    m_view.SetTitle(m_strTitle);
    SetField(BenchField::ImageName, "no image loaded");
    for (BenchField eField :
         {BenchField::ImageSize, BenchField::ImageDate, BenchField::ImageHash}) {
        SetField(eField, "");
    }
    SetField(BenchField::Store, m_pRecords != nullptr ? m_pRecords->StoreName() : "none");
    SetField(BenchField::Station, options.strStation);
    SetField(BenchField::Status, "idle");
    ShowCounters();
    if (m_pRecords != nullptr) {
        AddLog("Records go to " + m_pRecords->StoreName());
    }
    if (!options.strSlotsPath.empty()) {
        AddLog("Slots from " + options.strSlotsPath + ": " + std::to_string(m_pSlots->FileSlots()) +
               " named");
    }
    if (m_nRetries > 0) {
        AddLog("Retries: up to " + std::to_string(m_nRetries) + " per unit");
    }
    if (m_optProfile) {
        AddLog("Station profile " + m_optProfile->strPath);
    }
    if (m_optExpectVersion) {
        AddLog("Expected version " + DisplayText(*m_optExpectVersion) +
               ": a reader that already runs it is left alone");
    }
    if (!m_bVerify) {
        AddLog("No read-back: nothing is sent after a download's finish reply");
    }
    if (IsImageLocked()) {
        AddLog(ImageLockedText(m_optProfile->strPath));
    }
    UpdateButtons();
    m_view.ShowBoard(m_bBoard);
    m_view.SetSoundOn(m_bSoundOn);
    if (!options.strFirmwarePath.empty()) {
        LoadImage(options.strFirmwarePath);
    }
    ListSeatedReaders();
    return true;
}

void CBenchWindowModel::Shutdown() {
    if (m_pLoop) {
        m_pLoop->InterruptDevices();
    }
    if (m_loopThread.joinable()) {
        m_loopThread.join();
    }
    m_pLoop.reset();
    if (m_pRecords != nullptr) {
        m_pRecords->Close(); // its last notices are dropped below with the other reports
    }
    m_gui.ShutDown([this] { m_progress.clear(); });
}

// --- Queue ----------------------------------------------------------------------------

bool CBenchWindowModel::Post(std::function<void()> fn, const std::string& strClearProgressOf) {
    return m_gui.Post(std::move(fn), [this, &strClearProgressOf] {
        if (!strClearProgressOf.empty()) {
            // A bar value from before this report must not be drawn after it.
            m_progress.erase(strClearProgressOf);
        }
    });
}

void CBenchWindowModel::PostProgress(const std::string& strSlot, int nPos) {
    m_gui.WithLock([&] { m_progress[strSlot] = nPos; }); // OnTick draws the latest
}

void CBenchWindowModel::Drain() {
    m_gui.Drain();
}

void CBenchWindowModel::OnTick() {
    Drain(); // a progress value must not overtake the report of its attempt's start
    std::map<std::string, int> progress;
    m_gui.WithLock([&] { progress.swap(m_progress); }); // after ShutDown it stays empty
    for (const auto& [strSlot, nPos] : progress) {
        const int nRow = RowOfSlot(strSlot);
        if (nRow >= 0) {
            SetRowProgress(nRow, nPos);
        }
    }
    if (!m_bRunning) {
        // About once a second: a port scan reads a few files per reader.
        if (++m_nIdleTicks >= 1000 / kBenchTickMs) {
            ListSeatedReaders();
        }
        return;
    }
    const auto tpNow = Clock::now();
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rowStarts[i]) {
            const double dSeconds = std::chrono::duration<double>(tpNow - *m_rowStarts[i]).count();
            SetCell(static_cast<int>(i), BenchColumn::Seconds, Format("%.0f", dSeconds));
        }
    }
    ShowCounters();
}

// --- The operator's input -------------------------------------------------------------

void CBenchWindowModel::OnLoadBinaryFile() {
    if (m_bRunning || IsImageLocked()) {
        return;
    }
    if (std::optional<std::string> optPath = m_view.AskFirmwareFile()) {
        LoadImage(*optPath);
    }
}

bool CBenchWindowModel::LoadImage(const std::string& strPath) {
    if (m_bRunning) {
        return false;
    }
    UpdateRequest probe;
    uint32_t dwAreaFlags = 0;
    FileFacts facts;
    if (LoadFirmware(probe, strPath, dwAreaFlags) != 0 || !probe.pSegments ||
        !ReadFileFacts(strPath, facts)) {
        const std::string strWhy = DescribeFirmwareProblem(strPath);
        AddLog("Cannot use " + strPath + ": " + strWhy);
        m_view.ShowMessage("invalid firmware file\n" + strWhy);
        return false;
    }
    ImageVerdict verdict;
    if (m_optProfile) {
        verdict = JudgeImage(strPath, *m_optProfile);
        if (!verdict.bAccepted) {
            AddLog("Cannot use " + strPath + ": " + verdict.strCause);
            m_view.ShowMessage(std::string(OutcomeText(OutcomeKind::InvalidFirmware)) + "\n" +
                               verdict.strCause);
            return false;
        }
    }
    // The jobs load the file again: with a profile, it must be the bytes judged here.
    m_strApprovedSha256 = verdict.strSha256;
    m_optImageVersion = SignedVersionOf(verdict.signature);
    m_optImageSigner = SignerOf(verdict.signature);
    CSha256 sha;
    int64_t nBytes = 0;
    for (const ImageSegment* p = probe.pSegments.get(); p != nullptr; p = p->pNext.get()) {
        sha.Update(p->pData.data(), static_cast<size_t>(p->nLength));
        nBytes += p->nLength;
    }
    const std::array<uint8_t, 32> digest = sha.Final();
    const std::string strHash = HexText(digest.data(), digest.size());
    const std::string strName = facts.strName + facts.strExtension; // the extension has its dot
    m_strFirmwarePath = strPath;
    SetField(BenchField::ImageName, strName);
    SetField(BenchField::ImageSize, std::to_string(nBytes) + " bytes");
    SetField(BenchField::ImageDate, facts.strDate);
    SetField(BenchField::ImageHash, ShortHashText(strHash));
    m_strTitle = BenchTitle(strName);
    m_view.SetTitle(m_strTitle);
    AddLog("Image " + strPath + ", " + std::to_string(nBytes) + " bytes, SHA-256 " + strHash);
    if (const std::string strSigned = SignatureLineText(verdict.signature); !strSigned.empty()) {
        AddLog("Image " + strSigned);
    }
    UpdateButtons();
    return true;
}

void CBenchWindowModel::OnStart() {
    if (m_bRunning || !HasImage()) {
        return;
    }
    m_pLoop = std::make_unique<CParallelAutoLoop>(m_strFirmwarePath, *m_pRelay, m_timings, 0,
                                                  m_nRetries, m_pSlots.get());
    m_pLoop->SetJobObserver(m_recording);
    m_pLoop->SetApprovedSha256(m_strApprovedSha256);
    m_pLoop->SetImageSignature(m_optImageVersion, m_optImageSigner);
    m_pLoop->SetReadBack(m_bVerify, m_optExpectVersion);
    try {
        m_loopThread = std::thread([this] { m_pLoop->Run(); });
    } catch (const std::system_error& e) {
        m_pLoop.reset();
        AddLog(std::string("The bench cannot start: ") + e.what());
        return;
    }
    m_bRunning = true;
    m_bStopping = false;
    m_bInterrupting = false;
    // The counters and their running time go on from the last run: Reset
    // counters clears them.
    m_tpStart = Clock::now();
    SetField(BenchField::Status, "running");
    AddLog("Started: every reader that appears gets " + Field(BenchField::ImageName));
    ShowCounters();
    UpdateButtons();
}

void CBenchWindowModel::OnResetCounters() {
    if (m_tally.Total() == 0) {
        return;
    }
    AddLog("Counters reset after " + CountsText());
    m_tally = AutoTally{};
    m_nFirstPass = 0;
    m_nEarlierRunsMs = 0;
    m_tpStart = Clock::now();
    ShowCounters();
    UpdateButtons();
}

void CBenchWindowModel::OnStop() {
    if (!m_bRunning || m_bStopping) {
        return;
    }
    m_bStopping = true;
    m_pLoop->RequestStop();
    SetField(BenchField::Status, "stopping");
    AddLog("Stop: no new reader; the readers in flight finish");
    UpdateButtons();
}

void CBenchWindowModel::OnStopNow() {
    if (!m_bRunning || m_bInterrupting) {
        return;
    }
    if (m_nInFlight > 0 &&
        !m_view.AskYesNo("Stop every reader in flight at its next packet boundary?\n"
                         "Their units are left in the boot loader and must be flashed again.")) {
        return;
    }
    Interrupt();
}

void CBenchWindowModel::OnClose() {
    if (!m_bRunning) {
        const int nUnits = m_tally.Total();
        if (nUnits > 0 && !m_view.AskYesNo("Close the bench? This run's counts (" + CountsText() +
                                           ") are not shown again; the records keep every unit.")) {
            return;
        }
        m_view.EndWindow();
        return;
    }
    if (m_nInFlight > 0 && !m_bInterrupting &&
        !m_view.AskYesNo("Readers are being flashed. Stop them at their next packet boundary "
                         "and close the bench?")) {
        return;
    }
    if (!m_bRunning) { // the loop ended while the question was open
        m_view.EndWindow();
        return;
    }
    m_bCloseRequested = true;
    Interrupt(); // the window ends when the loop has (OnLoopEnded)
}

void CBenchWindowModel::Interrupt() {
    if (!m_bRunning) {
        return;
    }
    m_bStopping = true;
    m_bInterrupting = true;
    m_pLoop->InterruptDevices();
    SetField(BenchField::Status, "stopping now");
    AddLog("Stop now: every reader in flight stops at its next packet boundary");
    UpdateButtons();
}

// --- Reports, on the GUI thread -------------------------------------------------------

void CBenchWindowModel::OnUnitFound(const std::string& strSlot, const std::string& strPort) {
    const int nRow = RowFor(strSlot);
    ++m_nInFlight;
    SetCell(nRow, BenchColumn::Port, ShortPortName(strPort));
    m_view.SetCellTip(nRow, BenchColumn::Port, strPort);
    for (BenchColumn eColumn : {BenchColumn::Serial, BenchColumn::Version, BenchColumn::Seconds}) {
        SetCell(nRow, eColumn, "");
    }
    SetCell(nRow, BenchColumn::Stage, "found");
    SetRowProgress(nRow, 0);
    SetState(nRow, SlotState::Running);
    AddLog(strSlot + ": reader on " + strPort);
}

void CBenchWindowModel::OnAttemptStarted(const DeviceUnit& unit) {
    const int nRow = RowFor(unit.strSlot);
    m_rowStarts[static_cast<size_t>(nRow)] = Clock::now();
    SetCell(nRow, BenchColumn::Port, ShortPortName(unit.strPortName));
    m_view.SetCellTip(nRow, BenchColumn::Port, unit.strPortName);
    // The serial is not known yet: StageUpdating corrects the number once it is.
    const int nAttempt = m_attemptCounter.Peek(unit, std::nullopt);
    SetCell(nRow, BenchColumn::Attempt, std::to_string(nAttempt));
    SetCell(nRow, BenchColumn::Stage, "starting");
    SetCell(nRow, BenchColumn::Seconds, "0");
    SetRowProgress(nRow, 0);
    const bool bRetry = unit.nAttempt > 1;
    SetResult(nRow, bRetry ? BenchTone::Retrying : BenchTone::Busy,
              bRetry ? "running, attempt " + std::to_string(nAttempt) : "running");
    SetState(nRow, bRetry ? SlotState::Retrying : SlotState::Running);
}

void CBenchWindowModel::OnUnitStage(const std::string& strSlot, const std::string& strStage) {
    SetCell(RowFor(strSlot), BenchColumn::Stage, strStage);
}

void CBenchWindowModel::ShowRunningAttempt(const DeviceUnit& unit,
                                           const std::optional<std::string>& optSerial) {
    SetCell(RowFor(unit.strSlot), BenchColumn::Attempt,
            std::to_string(m_attemptCounter.Peek(unit, optSerial)));
}

void CBenchWindowModel::OnUnitSerial(const std::string& strSlot,
                                     const std::optional<std::string>& optSerial) {
    if (optSerial) {
        SetCell(RowFor(strSlot), BenchColumn::Serial, DeviceText(*optSerial));
    }
}

void CBenchWindowModel::OnAttemptEnded(const AttemptEnd& end) {
    const int nRow = RowFor(end.strSlot);
    m_rowStarts[static_cast<size_t>(nRow)].reset();
    ++m_nAttempts;
    BenchRow& row = m_rows[static_cast<size_t>(nRow)];
    // Jobs on this serial in this window's run, retries following their unit:
    // the number its record gets.
    const int nAttempt = m_attemptCounter.Next(end.unit, end.optSerial);
    row.nLastAttempt = nAttempt;
    SetCell(nRow, BenchColumn::Attempt, std::to_string(nAttempt));
    row.bLastPassed = end.eKind == OutcomeKind::Success;
    row.eLastKind = end.eKind;
    const bool bCurrent = end.eKind == OutcomeKind::Current;
    OnUnitSerial(end.strSlot, end.optSerial);
    // What the unit runs now: read back after its download, else what it told before.
    if (const auto& optShown = end.optVersionAfter ? end.optVersionAfter : end.optVersion) {
        SetCell(nRow, BenchColumn::Version, DeviceText(*optShown));
    }
    SetCell(nRow, BenchColumn::Seconds, SecondsText(end.dSeconds));
    SetCell(nRow, BenchColumn::Stage, "done");
    FinishBar(nRow, row.bLastPassed                         ? SlotState::Pass
                    : bCurrent                              ? SlotState::Current
                    : end.eKind == OutcomeKind::Interrupted ? SlotState::Stopped
                                                            : SlotState::Fail);
    std::string strText = end.eKind == OutcomeKind::Success       ? "passed"
                          : end.eKind == OutcomeKind::Interrupted ? "stopped"
                                                                  : OutcomeText(end.eKind);
    if (row.bLastPassed && end.eVerified == VerifyState::No) {
        strText = "passed, not verified";
    }
    const bool bNoFailure = row.bLastPassed || bCurrent;
    std::string strLine = end.strSlot + ": attempt " + std::to_string(nAttempt) + " " +
                          (bNoFailure ? strText : std::string("failed: ") + strText);
    if (end.optVersionAfter) {
        strLine += ", version " + DisplayText(*end.optVersionAfter);
    }
    if (!bNoFailure && !end.strCause.empty()) {
        strLine += " (" + DisplayText(end.strCause) + ")";
    }
    strLine += " in " + SecondsText(end.dSeconds) + " s";
    AddLog(strLine);
    SetResult(nRow, bNoFailure ? BenchTone::Passed : BenchTone::Failed,
              bNoFailure || end.eKind == OutcomeKind::Interrupted ? strText : "failed: " + strText);
    if (!end.strRecordFailure.empty()) {
        AddLog(end.strSlot + ": " + end.strRecordFailure);
    }
}

void CBenchWindowModel::OnRetrying(const DeviceUnit& next, OutcomeKind ePrevious) {
    const std::string& strSlot = next.strSlot;
    const int nAttempt = m_attemptCounter.Peek(next, std::nullopt);
    const int nRow = RowFor(strSlot);
    SetResult(nRow, BenchTone::Retrying, std::string("retrying after ") + OutcomeText(ePrevious));
    SetCell(nRow, BenchColumn::Stage, "retry");
    SetState(nRow, SlotState::Retrying);
    AddLog(strSlot + ": attempt " + std::to_string(nAttempt) + " after " + OutcomeText(ePrevious));
}

void CBenchWindowModel::OnUnitDone(const std::string& strSlot) {
    const int nRow = RowFor(strSlot);
    BenchRow& row = m_rows[static_cast<size_t>(nRow)];
    m_nInFlight = m_nInFlight > 0 ? m_nInFlight - 1 : 0;
    m_tally.Add(row.eLastKind);
    m_nFirstPass += row.eLastKind == OutcomeKind::Success && row.nLastAttempt == 1 ? 1 : 0;
    // A stopped unit says nothing of its slot's fixture.
    if (row.eLastKind != OutcomeKind::Interrupted) {
        row.recent.push_back(row.eLastKind == OutcomeKind::Success ||
                             row.eLastKind == OutcomeKind::Current);
    }
    while (row.recent.size() > static_cast<size_t>(kFailureStreak)) {
        row.recent.pop_front();
    }
    const bool bWasStreak = row.bCheckFixture;
    row.bCheckFixture = IsFailureStreak(row.recent);
    if (row.bCheckFixture && !bWasStreak) {
        AddLog(strSlot + ": " + FixtureCheckText(strSlot));
    }
    if (row.bCheckFixture) {
        SetState(nRow, SlotState::CheckFixture);
    }
    // With or without the fixture's notice.
    SetResult(nRow, row.bCheckFixture ? BenchTone::Fixture : row.eTone, row.strResult);
    const bool bFailed = !row.bLastPassed && row.eLastKind != OutcomeKind::Current &&
                         row.eLastKind != OutcomeKind::Interrupted;
    UpdateButtons(); // Reset counters has something to clear now
    if (bFailed && m_bSoundOn) {
        m_view.PlayFailureSound();
    }
    ShowCounters();
}

void CBenchWindowModel::OnUnitRemoved(const std::string& strSlot) {
    const int nRow = RowFor(strSlot);
    SetCell(nRow, BenchColumn::Stage, "removed");
}

void CBenchWindowModel::OnLoopEnded() {
    if (m_loopThread.joinable()) {
        m_loopThread.join(); // it is past its last report
    }
    m_pLoop.reset();
    m_bRunning = false;
    m_bStopping = false;
    m_bInterrupting = false;
    m_nInFlight = 0;
    m_nEarlierRunsMs +=
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_tpStart).count();
    for (auto& optStart : m_rowStarts) {
        optStart.reset();
    }
    ShowCounters();
    SetField(BenchField::Status, "stopped");
    AddLog("Stopped: " + CountsText());
    UpdateButtons();
    if (m_bCloseRequested) {
        m_view.EndWindow();
    }
}

// --- The view, with the model's copy ----------------------------------------------------

const std::string& CBenchWindowModel::Field(BenchField eField) const {
    static const std::string strNone;
    auto it = m_fields.find(eField);
    return it == m_fields.end() ? strNone : it->second;
}

bool CBenchWindowModel::IsEnabled(BenchButton eButton) const {
    auto it = m_enabled.find(eButton);
    return it != m_enabled.end() && it->second;
}

int CBenchWindowModel::RowOfSlot(const std::string& strSlot) const {
    auto it = m_rowOfSlot.find(strSlot);
    return it == m_rowOfSlot.end() ? -1 : it->second;
}

int CBenchWindowModel::RowFor(const std::string& strSlot) {
    if (int nRow = RowOfSlot(strSlot); nRow >= 0) {
        return nRow;
    }
    const int nRow = RowCount();
    m_rows.emplace_back();
    m_rowStarts.emplace_back();
    m_rowOfSlot[strSlot] = nRow;
    m_shownTiles.emplace_back();
    m_shownTiles.back().strSlot = "\n"; // never a slot's label: the first UpdateTile draws
    m_view.AddRow();
    SetCell(nRow, BenchColumn::Slot, strSlot);
    SetRowProgress(nRow, 0);
    UpdateTile(nRow);
    return nRow;
}

void CBenchWindowModel::SetField(BenchField eField, const std::string& strText) {
    auto it = m_fields.find(eField);
    if (it != m_fields.end() && it->second == strText) {
        return;
    }
    m_fields[eField] = strText;
    m_view.SetField(eField, strText);
}

void CBenchWindowModel::EnableButton(BenchButton eButton, bool bEnable) {
    auto it = m_enabled.find(eButton);
    if (it != m_enabled.end() && it->second == bEnable) {
        return;
    }
    m_enabled[eButton] = bEnable;
    m_view.EnableButton(eButton, bEnable);
}

void CBenchWindowModel::UpdateButtons() {
    EnableButton(BenchButton::Load, !m_bRunning && !IsImageLocked());
    EnableButton(BenchButton::Start, !m_bRunning && HasImage());
    EnableButton(BenchButton::Stop, m_bRunning && !m_bStopping);
    EnableButton(BenchButton::StopNow, m_bRunning && !m_bInterrupting);
    EnableButton(BenchButton::ResetCounters, m_tally.Total() > 0);
}

void CBenchWindowModel::SetCell(int nRow, BenchColumn eColumn, const std::string& strText) {
    std::string& strCell = m_rows[static_cast<size_t>(nRow)].cells[static_cast<size_t>(eColumn)];
    if (strCell == strText) {
        return;
    }
    strCell = strText;
    m_view.SetCell(nRow, eColumn, strText);
    if (eColumn == BenchColumn::Serial || eColumn == BenchColumn::Attempt) {
        UpdateTile(nRow);
    }
}

void CBenchWindowModel::SetRowProgress(int nRow, int nPos) {
    nPos = nPos < 0 ? 0 : (nPos > 100 ? 100 : nPos);
    BenchRow& row = m_rows[static_cast<size_t>(nRow)];
    if (row.nProgress == nPos && !row.bNoBar && !row.Cell(BenchColumn::Progress).empty()) {
        return;
    }
    row.nProgress = nPos;
    row.bNoBar = false;
    m_view.SetRowProgress(nRow, nPos);
    SetCell(nRow, BenchColumn::Progress, PercentText(nPos));
    UpdateTile(nRow);
}

void CBenchWindowModel::OnToggleBoard() {
    m_bBoard = !m_bBoard;
    m_view.ShowBoard(m_bBoard);
}

void CBenchWindowModel::OnScaleStep(int nSteps) {
    RestoreScale(SteppedScale(m_nScalePercent, nSteps));
}

void CBenchWindowModel::RestoreScale(int nPercent) {
    m_nScalePercent = std::clamp(nPercent, kBenchScaleMin, kBenchScaleMax);
    m_view.SetScale(m_nScalePercent);
}

void CBenchWindowModel::OnToggleSound() {
    m_bSoundOn = !m_bSoundOn;
    m_view.SetSoundOn(m_bSoundOn);
}

void CBenchWindowModel::SetResult(int nRow, BenchTone eTone, const std::string& strResult) {
    BenchRow& row = m_rows[static_cast<size_t>(nRow)];
    row.strResult = strResult;
    if (row.eTone != eTone) {
        row.eTone = eTone;
        m_view.SetRowTone(nRow, eTone);
    }
    // The notice first: a narrow cell still shows it.
    SetCell(nRow, BenchColumn::Result,
            row.bCheckFixture && eTone == BenchTone::Fixture ? "CHECK FIXTURE: " + strResult
                                                             : strResult);
}

void CBenchWindowModel::SetState(int nRow, SlotState eState) {
    m_rows[static_cast<size_t>(nRow)].tile.eState = eState;
    UpdateTile(nRow);
}

void CBenchWindowModel::UpdateTile(int nRow) {
    BenchRow& row = m_rows[static_cast<size_t>(nRow)];
    BenchTile tile = row.tile;
    tile.strSlot = row.Cell(BenchColumn::Slot);
    tile.strSerial = row.Cell(BenchColumn::Serial);
    // In steps: read from across the room, 42 % and 40 % say the same, and 64 tiles
    // that change at every 1 % cost the window five times the drawing.
    tile.nProgress = row.nProgress / kTileProgressStep * kTileProgressStep;
    const std::string& strAttempt = row.Cell(BenchColumn::Attempt);
    tile.nAttempt = strAttempt.empty() ? 0 : std::atoi(strAttempt.c_str());
    if (tile == m_shownTiles[static_cast<size_t>(nRow)]) {
        return;
    }
    row.tile = tile;
    m_shownTiles[static_cast<size_t>(nRow)] = tile;
    m_view.SetTile(nRow, tile);
}

void CBenchWindowModel::FinishBar(int nRow, SlotState eState) {
    BenchRow& row = m_rows[static_cast<size_t>(nRow)];
    if (eState == SlotState::Pass) {
        SetRowProgress(nRow, 100);
    } else if (eState == SlotState::Current) {
        m_view.SetRowProgress(nRow, kNoBar);
        row.bNoBar = true;
        SetCell(nRow, BenchColumn::Progress, "nothing sent");
    } else {
        // A bar left part way would look like a job still running.
        m_view.SetRowProgress(nRow, kNoBar);
        row.bNoBar = true;
        BenchTile shown = row.tile;
        shown.eState = eState;
        SetCell(nRow, BenchColumn::Progress,
                TileWord(shown) + " at " + std::to_string(row.nProgress) + " %");
    }
    SetState(nRow, eState);
}

void CBenchWindowModel::ListSeatedReaders() {
    m_nIdleTicks = 0;
    for (const PortRecord& record : ScanPorts()) {
        if (record.strConnector.empty() ||
            !DescriptionMatches(record.strName, kConverterDescription)) {
            continue;
        }
        const std::string strSlot = m_pSlots->LabelOf(record.strConnector);
        const bool bNew = RowOfSlot(strSlot) < 0;
        const int nRow = RowFor(strSlot);
        if (bNew) {
            SetCell(nRow, BenchColumn::Port, ShortPortName(record.strName));
            m_view.SetCellTip(nRow, BenchColumn::Port, record.strName);
            SetCell(nRow, BenchColumn::Stage, "seated");
        }
    }
}

std::string CBenchWindowModel::CountsText() const {
    std::string strText =
        std::to_string(m_tally.nPassed) + " passed, " + std::to_string(m_tally.nFailed) + " failed";
    if (m_tally.nCurrent > 0) {
        strText += ", " + std::to_string(m_tally.nCurrent) + " current";
    }
    if (m_tally.nStopped > 0) {
        strText += ", " + std::to_string(m_tally.nStopped) + " stopped";
    }
    return strText;
}

void CBenchWindowModel::ShowCounters() {
    SetField(BenchField::Passed, std::to_string(m_tally.nPassed));
    SetField(BenchField::Failed, std::to_string(m_tally.nFailed));
    SetField(BenchField::Yield,
             FirstPassYieldText(m_nFirstPass, m_tally.nPassed + m_tally.nFailed));
    const int64_t nElapsedMs = ElapsedMs();
    SetField(BenchField::UnitsPerHour,
             UnitsPerHourText(m_tally.nPassed + m_tally.nFailed, nElapsedMs));
    SetField(BenchField::Elapsed, ElapsedText(nElapsedMs));
}

int64_t CBenchWindowModel::ElapsedMs() const {
    return m_nEarlierRunsMs +
           (m_bRunning
                ? std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_tpStart)
                      .count()
                : 0);
}

std::string CBenchWindowModel::DeviceText(const std::string& strBytes) const {
    return DisplayText(m_view.TextFromDevice(strBytes));
}

void CBenchWindowModel::AddLog(const std::string& strLine) {
    m_log.push_back(strLine);
    m_view.AppendLog(strLine + "\n");
    if (static_cast<int>(m_log.size()) > kBenchLogLines) {
        // Drop a tenth at once: one trim of the view's text per many lines.
        const int nDrop = kBenchLogLines / 10;
        m_log.erase(m_log.begin(), m_log.begin() + nDrop);
        m_view.DropLogLines(nDrop);
    }
}

} // namespace fwup
