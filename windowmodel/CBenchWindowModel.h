#pragma once
// CBenchWindowModel: the bench window's behaviour without a toolkit. It runs the
// parallel auto loop (every reader that appears is flashed with the loaded image;
// a reader is taken again only after it was removed) on a worker thread, keeps
// one row per slot, the counters and the log, writes a record per attempt through
// the recording observer, and tells a view (IBenchView) what to show. ui/ (Qt) and winui/
// (Win32) are two such views.
//
// Threads: every public method runs on the GUI thread; only the constructor's wake
// function is called by workers. A worker queues its report and calls wake once
// per batch; the toolkit then calls Drain on the GUI thread (as for the main
// window's model). Progress reports do not wake: the view's timer calls OnTick
// every kBenchTickMs, which redraws each row's bar at most once and the running
// counters. The GUI thread never waits for a reader; it joins the loop's thread
// only after its last report.

#include "device/CAttemptCounter.h"
#include "device/ProtocolTimings.h"
#include "device/UpdateOutcome.h"
#include "records/CRecordingObserver.h"
#include "records/IRecordSink.h"
#include "windowmodel/BenchOptions.h"
#include "windowmodel/CGuiQueue.h"
#include "windowmodel/IBenchView.h"
#include "workflows/IAutoObserver.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fwup {

class CParallelAutoLoop;
class CSlotMap;

// How often the view calls OnTick, in milliseconds.
inline constexpr int kBenchTickMs = 100;
// A slot whose last this many units failed asks for its cable or fixture to be checked.
inline constexpr int kFailureStreak = 3;
// The log keeps at most this many lines; older ones are dropped.
inline constexpr int kBenchLogLines = 5000;

// One slot's row as shown.
struct BenchRow {
    std::array<std::string, kBenchColumnCount> cells; // by BenchColumn
    int nProgress = 0;                                // the bar, 0..100
    BenchTone eTone = BenchTone::Idle;
    std::deque<bool> recent;    // the last units' results, oldest first, true: passed
    bool bCheckFixture = false; // the last kFailureStreak units failed
    std::string strResult;      // the result's own text, without the fixture's notice
    int nLastAttempt = 0;       // the last attempt's number
    bool bLastPassed = false;   // the last attempt passed
    OutcomeKind eLastKind = OutcomeKind::Success; // how the last attempt ended
    BenchTile tile;                               // as the board shows it
    bool bNoBar = false; // finished without passing: the Progress cell says how
    const std::string& Cell(BenchColumn eColumn) const {
        return cells[static_cast<size_t>(eColumn)];
    }
};

// --- Pure logic the model shows (tests call these directly) ----------------------
// "VelgoFWUp bench — <image name>"; without an image, "VelgoFWUp bench".
std::string BenchTitle(const std::string& strImageName);
// First-pass yield: units that passed at their first attempt over all units,
// "95.0 %"; "-" when there are none.
std::string FirstPassYieldText(int nFirstPassUnits, int nUnits);
// Finished units per hour of nElapsedMs, rounded; "-" before a minute has passed.
std::string UnitsPerHourText(int nUnits, int64_t nElapsedMs);
// "h:mm:ss".
std::string ElapsedText(int64_t nElapsedMs);
// The first 16 hex digits and "..." of a hex digest.
std::string ShortHashText(const std::string& strHexDigest);
// True when the last kFailureStreak results (oldest first, true: passed) all failed.
bool IsFailureStreak(const std::deque<bool>& recent);
// "check the cable or fixture of <slot>".
std::string FixtureCheckText(const std::string& strSlot);

class CBenchWindowModel {
public:
    // view: borrowed, outlives the model. fnWake: any thread; arranges one call of
    // Drain on the GUI thread soon, without waiting; false when it could not.
    CBenchWindowModel(IBenchView& view, std::function<bool()> fnWake);
    ~CBenchWindowModel(); // Shutdown()
    CBenchWindowModel(const CBenchWindowModel&) = delete;
    CBenchWindowModel& operator=(const CBenchWindowModel&) = delete;

    // The waits of every later job (the device's own by default).
    void SetProtocolTimings(const ProtocolTimings& timings) { m_timings = timings; }
    // Records of every later job (borrowed, outlives the model; null for none).
    // Before Init. Shutdown waits until every record is written.
    void SetRecordSink(IRecordSink* pSink);
    // The window's start: every field, button and the title. Reads the slots file
    // (false, with strError naming the file and the malformed line's number: the
    // window must not open) and loads options' image (a bad one is logged and
    // shown; the window opens without it).
    bool Init(const BenchOptions& options, std::string& strError);
    // Runs the reports the workers queued, in order.
    void Drain();
    // The view's timer, every kBenchTickMs: coalesced bars, elapsed, units per hour.
    void OnTick();
    // Stops the loop: readers in flight stop at their next packet boundary; waits
    // for the loop's thread and every record. Later reports are dropped.
    void Shutdown();

    // --- The operator's input ----------------------------------------------------
    void OnLoadBinaryFile(); // the file dialog, then LoadImage; not while running
    // Loads the image every later reader gets: name, size, date, SHA-256 shown.
    // False when it cannot be read, is no image or the station profile refuses it
    // (logged with the cause and shown in a box).
    bool LoadImage(const std::string& strPath);
    void OnStart();   // with an image, idle: the loop starts
    void OnStop();    // no new reader; those in flight finish their jobs
    void OnStopNow(); // after a Yes: every reader in flight stops at its next packet boundary
    // The counters (passed, failed, current, stopped, yield, units per hour and
    // their running time) from zero; they otherwise go on over Stop and Start.
    void OnResetCounters();
    // The close box, Esc: ends the window now when idle and nothing was counted;
    // with counted units it asks first (No keeps the window); with readers in
    // flight it asks, then stops them at a packet boundary and ends once the loop has.
    void OnClose();
    void OnToggleBoard();            // the board's key: board or table
    void OnScaleStep(int nSteps);    // Ctrl+Plus (+1), Ctrl+Minus (-1), Ctrl+0 (0: the default)
    void RestoreScale(int nPercent); // the view's remembered scale, after Init
    void OnToggleSound();            // "Sound on failure", off at the start

    // --- State (what the view and tests read) -------------------------------------
    bool IsRunning() const { return m_bRunning; } // the loop's thread is not past its end
    bool IsStopping() const { return m_bStopping; }
    bool HasImage() const { return !m_strFirmwarePath.empty(); }
    // A locked station profile's image is the only one: "Load Binary File" stays off.
    bool IsImageLocked() const { return m_optProfile && m_optProfile->bLocked; }
    const std::string& Title() const { return m_strTitle; }
    const std::string& Field(BenchField eField) const;
    bool IsEnabled(BenchButton eButton) const;
    int RowCount() const { return static_cast<int>(m_rows.size()); }
    const BenchRow& Row(int nRow) const { return m_rows.at(static_cast<size_t>(nRow)); }
    // The row of a slot label; -1 when it has none yet.
    int RowOfSlot(const std::string& strSlot) const;
    const std::deque<std::string>& LogLines() const { return m_log; }
    int Passed() const { return m_tally.nPassed; }
    int Failed() const { return m_tally.nFailed; }
    int Stopped() const { return m_tally.nStopped; }
    int Current() const { return m_tally.nCurrent; }
    int FirstPassUnits() const { return m_nFirstPass; }
    int Attempts() const { return m_nAttempts; } // jobs run, retries included
    bool IsBoardShown() const { return m_bBoard; }
    int ScalePercent() const { return m_nScalePercent; }
    bool IsSoundOn() const { return m_bSoundOn; }

    // One line into the log (a '\n' is added).
    void AddLog(const std::string& strLine);

private:
    class CRelay; // the loop's observer: queues reports from the readers' threads
    friend class CRelay;

    // How an attempt ended, copied on the reader's thread.
    struct AttemptEnd {
        DeviceUnit unit; // as the job left it
        std::string strSlot;
        OutcomeKind eKind = OutcomeKind::Success;
        std::string strCause;
        std::optional<std::string> optVersion;
        std::optional<std::string> optVersionAfter; // read back after the download
        VerifyState eVerified = VerifyState::NotChecked;
        std::optional<std::string> optSerial;
        double dSeconds = 0;
        std::string strRecordFailure; // the record sink's line; empty when taken
    };

    // The view, with the model's copy.
    void SetField(BenchField eField, const std::string& strText);
    void EnableButton(BenchButton eButton, bool bEnable);
    void UpdateButtons();
    int RowFor(const std::string& strSlot); // the slot's row, appended when new
    void SetCell(int nRow, BenchColumn eColumn, const std::string& strText);
    void SetRowProgress(int nRow, int nPos);
    void SetResult(int nRow, BenchTone eTone, const std::string& strResult);
    void SetState(int nRow, SlotState eState);
    void UpdateTile(int nRow); // tells the view when the row's tile changed
    // A finished row's Progress cell: the bar full when it passed, else the outcome in words.
    void FinishBar(int nRow, SlotState eState);
    // Idle: readers seated now get their slot's row, WAITING until a job runs on them.
    void ListSeatedReaders();
    void ShowCounters();
    std::string CountsText() const; // "3 passed, 1 failed[, 2 current][, 1 stopped]"
    int64_t ElapsedMs() const;
    std::string DeviceText(const std::string& strBytes) const;
    void Interrupt();

    // Reports, on the GUI thread.
    void OnUnitFound(const std::string& strSlot, const std::string& strPort);
    void OnAttemptStarted(const DeviceUnit& unit);
    // The running job's attempt as its record will have it, once its serial is known.
    void ShowRunningAttempt(const DeviceUnit& unit, const std::optional<std::string>& optSerial);
    void OnUnitStage(const std::string& strSlot, const std::string& strStage);
    void OnUnitSerial(const std::string& strSlot, const std::optional<std::string>& optSerial);
    void OnAttemptEnded(const AttemptEnd& end);
    void OnRetrying(const DeviceUnit& next, OutcomeKind ePrevious);
    void OnUnitDone(const std::string& strSlot);
    void OnUnitRemoved(const std::string& strSlot);
    void OnLoopEnded();

    // Any thread; false when dropped. strClearProgressOf: a slot whose pending bar
    // value this report makes stale.
    bool Post(std::function<void()> fn, const std::string& strClearProgressOf = std::string());
    void PostProgress(const std::string& strSlot, int nPos); // any thread, no wake

    IBenchView& m_view;

    CGuiQueue m_gui;
    // Latest bar by slot, only under m_gui's lock (WithLock, Post, ShutDown): a
    // report that makes a value stale drops it as the report is queued.
    std::map<std::string, int> m_progress;

    IRecordSink* m_pRecords = nullptr; // set before the loop's thread starts
    std::unique_ptr<CSlotMap> m_pSlots;
    std::unique_ptr<CRelay> m_pRelay;
    CRecordingObserver m_recording; // in front of the relay's job reports
    std::unique_ptr<CParallelAutoLoop> m_pLoop;
    std::thread m_loopThread;

    // GUI thread only from here.
    ProtocolTimings m_timings;
    int m_nRetries = 0;
    bool m_bVerify = true;
    std::optional<std::string> m_optExpectVersion;
    std::optional<StationProfile> m_optProfile; // none: any image within the size rules
    std::string m_strFirmwarePath;
    // What the profile's verdict accepted for m_strFirmwarePath: every job's request.
    std::string m_strApprovedSha256;
    std::optional<std::string> m_optImageVersion;
    std::optional<std::string> m_optImageSigner;
    std::string m_strTitle;
    std::map<BenchField, std::string> m_fields;
    std::map<BenchButton, bool> m_enabled;
    std::vector<BenchRow> m_rows;
    std::vector<BenchTile> m_shownTiles; // what the view was last told, by row
    std::vector<std::optional<std::chrono::steady_clock::time_point>>
        m_rowStarts; // attempt in flight
    std::map<std::string, int> m_rowOfSlot;
    std::deque<std::string> m_log;
    bool m_bRunning = false;
    bool m_bStopping = false;
    bool m_bInterrupting = false;
    bool m_bCloseRequested = false;
    bool m_bBoard = true;
    bool m_bSoundOn = false;
    int m_nScalePercent = 100;
    int m_nIdleTicks = 0; // ticks since the last listing of seated readers
    AutoTally m_tally;    // units by their last attempt; stopped and current ones out of the yield
    int m_nFirstPass = 0;
    int m_nAttempts = 0;
    // The records' own numbering, so a row's attempt is its record's.
    CAttemptCounter m_attemptCounter;
    int m_nInFlight = 0;                               // readers found and not yet done
    std::chrono::steady_clock::time_point m_tpStart{}; // the running loop's Start
    int64_t m_nEarlierRunsMs = 0; // the runs before it since the counters' reset
};

} // namespace fwup
