// The bench window's model on Linux: slots, retries, the failure streak, Stop and
// Stop now, against simulated readers over real pseudo-terminals, seen through a
// view that records what the model told it. The test thread plays the GUI thread.

#include "records/CUnitRecordLog.h"
#include "sim/CSimDevice.h"
#include "tests/station/CTestSigner.h"
#include "tests/support/CSimRig.h"
#include "windowmodel/BenchOptions.h"
#include "windowmodel/CBenchWindowModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace fwup {
namespace {

using fwsim::Personality;

class CRecordingBenchView : public IBenchView {
public:
    std::string strTitle;
    std::map<BenchField, std::string> fields;
    std::map<BenchButton, bool> enabled;
    std::vector<std::vector<std::string>> rows;
    std::vector<int> bars;
    std::vector<BenchTone> tones;
    std::vector<BenchTile> tiles;
    std::map<std::pair<int, BenchColumn>, std::string> tips;
    bool bBoard = false;
    int nScale = 0;
    bool bSoundOn = true;
    int nSounds = 0;
    int nBarCalls = 0;
    std::vector<std::string> log;
    std::vector<std::string> questions;
    std::function<bool(const std::string&)> fnAnswer = [](const std::string&) { return true; };
    std::vector<std::string> messages;
    bool bEnded = false;

    void SetTitle(const std::string& str) override { strTitle = str; }
    void SetField(BenchField e, const std::string& str) override { fields[e] = str; }
    void EnableButton(BenchButton e, bool b) override { enabled[e] = b; }
    void AddRow() override {
        rows.emplace_back(kBenchColumnCount);
        bars.push_back(0);
        tones.push_back(BenchTone::Idle);
        tiles.emplace_back();
    }
    void SetCell(int nRow, BenchColumn e, const std::string& str) override {
        rows.at(nRow).at(static_cast<size_t>(e)) = str;
    }
    void SetRowProgress(int nRow, int nPos) override {
        bars.at(nRow) = nPos;
        ++nBarCalls;
    }
    void SetRowTone(int nRow, BenchTone e) override { tones.at(nRow) = e; }
    void SetCellTip(int nRow, BenchColumn e, const std::string& str) override {
        tips[{nRow, e}] = str;
    }
    void SetTile(int nRow, const BenchTile& tile) override { tiles.at(nRow) = tile; }
    void ShowBoard(bool b) override { bBoard = b; }
    void SetScale(int n) override { nScale = n; }
    void SetSoundOn(bool b) override { bSoundOn = b; }
    void PlayFailureSound() override { ++nSounds; }
    void AppendLog(const std::string& strLines) override {
        size_t nStart = 0;
        for (size_t n = strLines.find('\n'); n != std::string::npos;
             nStart = n + 1, n = strLines.find('\n', nStart)) {
            log.push_back(strLines.substr(nStart, n - nStart));
        }
    }
    void DropLogLines(int n) override { log.erase(log.begin(), log.begin() + n); }
    bool AskYesNo(const std::string& str) override {
        questions.push_back(str);
        return fnAnswer(str);
    }
    void ShowMessage(const std::string& str) override { messages.push_back(str); }
    std::optional<std::string> AskFirmwareFile() override { return std::nullopt; }
    void EndWindow() override { bEnded = true; }
    std::string TextFromDevice(const std::string& str) const override { return str; }

    bool LogHas(const std::string& strNeedle) const {
        return std::any_of(log.begin(), log.end(), [&](const std::string& s) {
            return s.find(strNeedle) != std::string::npos;
        });
    }
};

// The connector the simulator publishes for a reader at usb path strUsb.
std::string ConnectorOf(const std::string& strUsb) {
    return "pci0000:00/0000:00:14.0/usb1/" + strUsb + ":" + strUsb + ":1.0";
}

class BenchModel : public testing::Test {
protected:
    void SetUp() override {
        m_pModel = std::make_unique<CBenchWindowModel>(m_view, [this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bWoken = true;
            m_woken.notify_all();
            return true;
        });
        m_pModel->SetProtocolTimings(fwtest::TestTimings());
        std::string strError;
        ASSERT_TRUE(m_records.Open(m_rig.Root() + "/records.jsonl", strError)) << strError;
        m_pModel->SetRecordSink(&m_records);
    }
    void TearDown() override { m_pModel->Shutdown(); }

    // Init with the image and the given options.
    void Init(BenchOptions options, size_t nImageBytes = 6000) {
        options.bBench = true;
        options.strFirmwarePath = m_rig.WriteFirmware("fw.bin", nImageBytes, 3);
        std::string strError;
        ASSERT_TRUE(m_pModel->Init(options, strError)) << strError;
        ASSERT_TRUE(m_pModel->HasImage());
    }

    // The GUI thread's loop: reports when woken, the timer's tick every kBenchTickMs.
    bool WaitUntil(const std::function<bool()>& pred, int nTimeoutMs = 20000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
        for (;;) {
            m_pModel->OnTick();
            if (pred()) {
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::unique_lock<std::mutex> lock(m_mutex);
            m_woken.wait_for(lock, std::chrono::milliseconds(kBenchTickMs),
                             [this] { return m_bWoken; });
            m_bWoken = false;
        }
    }

    fwsim::CSimDevice& Plug(int n, const std::function<void(fwsim::SimDeviceConfig&)>& fnSet = {}) {
        fwsim::SimDeviceConfig config =
            m_rig.DeviceConfig(Personality::Application, "1-" + std::to_string(n));
        config.strAppTty = config.strBootTty = "ttyACM" + std::to_string(n);
        config.strSerial = "SN-" + std::to_string(n);
        if (fnSet) {
            fnSet(config);
        }
        m_devices.push_back(std::make_unique<fwsim::CSimDevice>(config));
        EXPECT_TRUE(m_devices.back()->Start());
        return *m_devices.back();
    }

    const std::string& Cell(const std::string& strSlot, BenchColumn e) {
        static const std::string strNone = "(no row)";
        const int nRow = m_pModel->RowOfSlot(strSlot);
        return nRow < 0 ? strNone : m_pModel->Row(nRow).Cell(e);
    }
    bool Stopped() const { return !m_pModel->IsRunning(); }
    // What the view shows agrees with the model's copy.
    void ExpectViewAgrees() {
        ASSERT_EQ(static_cast<int>(m_view.rows.size()), m_pModel->RowCount());
        for (int i = 0; i < m_pModel->RowCount(); ++i) {
            for (int c = 0; c < kBenchColumnCount; ++c) {
                EXPECT_EQ(m_view.rows[i][c], m_pModel->Row(i).cells[c]) << i << "," << c;
            }
            EXPECT_EQ(m_view.bars[i],
                      m_pModel->Row(i).bNoBar ? kNoBar : m_pModel->Row(i).nProgress);
            EXPECT_EQ(m_view.tiles[i], m_pModel->Row(i).tile);
            EXPECT_EQ(m_view.tones[i], m_pModel->Row(i).eTone);
        }
        for (const auto& [eField, str] : m_view.fields) {
            EXPECT_EQ(str, m_pModel->Field(eField));
        }
        EXPECT_EQ(
            std::vector<std::string>(m_pModel->LogLines().begin(), m_pModel->LogLines().end()),
            m_view.log);
    }
    std::vector<std::string> Records() {
        m_records.Close();
        return fwtest::FileLines(m_rig.Root() + "/records.jsonl");
    }

    fwtest::CSimRig m_rig;
    CRecordingBenchView m_view;
    CUnitRecordLog m_records;
    std::mutex m_mutex;
    std::condition_variable m_woken;
    bool m_bWoken = false;
    std::vector<std::unique_ptr<fwsim::CSimDevice>> m_devices;
    std::unique_ptr<CBenchWindowModel> m_pModel;
};

// --- Pure logic -------------------------------------------------------------------------

TEST(BenchText, CountersTitleAndStreak) {
    EXPECT_EQ(BenchTitle("fw.bin"), "VelgoFWUp bench \u2014 fw.bin");
    EXPECT_EQ(BenchTitle(""), "VelgoFWUp bench");
    EXPECT_EQ(FirstPassYieldText(0, 0), "-");
    EXPECT_EQ(FirstPassYieldText(3, 4), "75.0 %");
    EXPECT_EQ(FirstPassYieldText(2, 3), "66.7 %");
    EXPECT_EQ(UnitsPerHourText(5, 59999), "-");
    EXPECT_EQ(UnitsPerHourText(5, 60000), "300");
    EXPECT_EQ(UnitsPerHourText(7, 3600000), "7");
    EXPECT_EQ(ElapsedText(0), "0:00:00");
    EXPECT_EQ(ElapsedText(3725999), "1:02:05");
    EXPECT_EQ(ShortHashText("0123456789abcdef0123"), "0123456789abcdef...");
    EXPECT_EQ(FixtureCheckText("Slot 3"), "check the cable or fixture of Slot 3");
    const struct {
        std::deque<bool> recent;
        bool bStreak;
    } streaks[] = {{{}, false},
                   {{false, false}, false},
                   {{false, false, false}, true},
                   {{true, false, false, false}, true},
                   {{false, false, true}, false},
                   {{false, true, false, false}, false}};
    for (const auto& row : streaks) {
        EXPECT_EQ(IsFailureStreak(row.recent), row.bStreak) << row.recent.size();
    }
}

// WCAG 2's contrast ratio, written here from its definition.
double Luminance(uint32_t dwRgb) {
    double dSum = 0;
    const double weights[] = {0.2126, 0.7152, 0.0722};
    for (int i = 0; i < 3; ++i) {
        const double c = ((dwRgb >> (16 - 8 * i)) & 0xFF) / 255.0;
        dSum += weights[i] * (c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
    }
    return dSum;
}

TEST(BenchTileText, WordsSymbolsContrastPortsAndScale) {
    const struct {
        SlotState eState;
        const char* pszWord;
        BenchSymbol eSymbol;
    } states[] = {
        {SlotState::Waiting, "WAITING", BenchSymbol::Circle},
        {SlotState::Running, "RUNNING 42 %", BenchSymbol::Play},
        {SlotState::Retrying, "RETRY 42 %", BenchSymbol::Retry},
        {SlotState::Pass, "PASS", BenchSymbol::Check},
        {SlotState::Fail, "FAIL", BenchSymbol::Cross},
        {SlotState::CheckFixture, "CHECK FIXTURE", BenchSymbol::Warning},
        {SlotState::Stopped, "STOPPED", BenchSymbol::Square},
        {SlotState::Current, "CURRENT", BenchSymbol::Check},
    };
    std::set<uint32_t> backgrounds;
    for (const auto& row : states) {
        BenchTile tile;
        tile.eState = row.eState;
        tile.nProgress = 42;
        EXPECT_EQ(TileWord(tile), row.pszWord);
        EXPECT_EQ(SlotStateSymbol(row.eState), row.eSymbol);
        const TileColours colours = SlotStateColours(row.eState);
        const double dHigh = std::max(Luminance(colours.dwBackground), Luminance(colours.dwText));
        const double dLow = std::min(Luminance(colours.dwBackground), Luminance(colours.dwText));
        EXPECT_GE((dHigh + 0.05) / (dLow + 0.05), 4.5) << row.pszWord;
        backgrounds.insert(colours.dwBackground);
    }
    EXPECT_EQ(backgrounds.size(), std::size(states)); // no two states share a colour
    BenchTile tile;
    tile.strSerial = "SN12345";
    tile.nAttempt = 2;
    EXPECT_EQ(TileDetail(tile), "SN12345 \u00b7 attempt 2");
    const std::pair<const char*, const char*> ports[] = {
        {"AT91 USB to Serial Converter (COM9)", "COM9"},
        {"(COM12)", "COM12"},
        {"ttyACM0", "ttyACM0"},
        {"odd ()", "odd ()"},
    };
    for (const auto& [pszListed, pszShort] : ports) {
        EXPECT_EQ(ShortPortName(pszListed), pszShort);
    }
    // 16 slots on a 1366×768 screen's board (about 1340×460 px): the word at least 28 px.
    const BoardLayout layout = LayOutBoard(16, 1340, 460, 100);
    EXPECT_EQ(layout.nColumns * layout.nRows >= 16, true);
    EXPECT_LE(layout.nColumns * (layout.nTileWidth + layout.nGap), 1340);
    EXPECT_LE(layout.nRows * (layout.nTileHeight + layout.nGap), 460);
    EXPECT_GE(MeasureTile(layout.nTileWidth, layout.nTileHeight).nWordPx, 28);
    EXPECT_EQ(LayOutBoard(1, 1340, 460, 100).nTileHeight, 150); // one slot: not a wall of colour
    EXPECT_EQ(SteppedScale(100, 1), 110);
    EXPECT_EQ(SteppedScale(300, 1), 300);
    EXPECT_EQ(SteppedScale(50, -1), 50);
    EXPECT_EQ(SteppedScale(170, 0), 100);
}

TEST(BenchOptionsParse, ValuesAndRefusals) {
    BenchOptions options;
    std::string strError;
    ASSERT_TRUE(
        ParseBenchOptions({"-platform", "offscreen", "--bench", "--file", "a.bin", "--record",
                           "r.db", "--station", "Line 2", "--slots", "s.txt", "--retries", "2"},
                          options, strError))
        << strError;
    EXPECT_TRUE(options.bBench);
    EXPECT_EQ(options.strFirmwarePath, "a.bin");
    EXPECT_EQ(options.strRecordStore, "r.db");
    EXPECT_EQ(options.strStation, "Line 2");
    EXPECT_EQ(options.strSlotsPath, "s.txt");
    EXPECT_EQ(options.nRetries, 2);
    // Either window takes a profile.
    ASSERT_TRUE(
        ParseBenchOptions({"--record", "r.jsonl", "--profile", "p.toml"}, options, strError))
        << strError;
    EXPECT_FALSE(options.bBench);
    EXPECT_EQ(options.strProfilePath, "p.toml");
    ::setenv(kRecordStoreVariable, "postgresql://u:pw@db/units", 1); // as "Bench..." hands it on
    ASSERT_TRUE(ParseBenchOptions({"--bench"}, options, strError));
    EXPECT_EQ(options.strRecordStore, "postgresql://u:pw@db/units");
    ASSERT_TRUE(ParseBenchOptions({"--bench", "--record", "r.jsonl"}, options, strError));
    EXPECT_EQ(options.strRecordStore, "r.jsonl");
    ::unsetenv(kRecordStoreVariable);
    const struct {
        std::vector<std::string> args;
        const char* pszError;
    } refused[] = {
        {{"--bench", "--retries", "-1"}, "--retries takes a number from 0 to 100, not '-1'"},
        {{"--bench", "--retries", "101"}, "--retries takes a number from 0 to 100, not '101'"},
        {{"--bench", "--retries", "x"}, "--retries takes a number from 0 to 100, not 'x'"},
        {{"--bench", "--slots"}, "--slots needs a value"},
        {{"--record", ""}, "--record needs a value"},
        {{"--profile"}, "--profile needs a value"},
        {{"--station", "A"}, "--station belongs to the bench window: add --bench"},
    };
    for (const auto& row : refused) {
        EXPECT_FALSE(ParseBenchOptions(row.args, options, strError)) << row.pszError;
        EXPECT_EQ(strError, row.pszError);
    }
}

// --- Against simulated readers -------------------------------------------------------------

// One reader in a slot the file names, one labelled by first sight; both pass.
// A malformed slots file keeps the window from opening, naming its line.
TEST_F(BenchModel, SlotsFromAFileAndByFirstSight) {
    const std::string strSlots = m_rig.Root() + "/slots.txt";
    std::ofstream(strSlots) << "# bench\n" << ConnectorOf("1-7") << " Left fixture\n";
    BenchOptions options;
    options.strSlotsPath = strSlots;
    options.strStation = "Line 2";
    Init(options);
    EXPECT_EQ(m_view.strTitle, "VelgoFWUp bench \u2014 fw.bin");
    EXPECT_EQ(m_view.fields[BenchField::Station], "Line 2");
    EXPECT_EQ(m_view.fields[BenchField::ImageSize], "6000 bytes");
    EXPECT_EQ(m_view.fields[BenchField::ImageHash].size(), 19u);
    EXPECT_TRUE(m_view.enabled[BenchButton::Start]);
    EXPECT_FALSE(m_view.enabled[BenchButton::Stop]);
    Plug(7);
    Plug(2);
    m_pModel->OnStart();
    EXPECT_FALSE(m_view.enabled[BenchButton::Load]);
    EXPECT_TRUE(m_view.enabled[BenchButton::StopNow]);
    ASSERT_TRUE(WaitUntil([this] { return m_pModel->Passed() == 2; }));
    EXPECT_EQ(m_pModel->RowCount(), 2);
    for (const char* pszSlot : {"Left fixture", "Slot 1"}) {
        SCOPED_TRACE(pszSlot);
        EXPECT_EQ(Cell(pszSlot, BenchColumn::Result), "passed");
        EXPECT_EQ(Cell(pszSlot, BenchColumn::Progress), "100 %");
        EXPECT_EQ(Cell(pszSlot, BenchColumn::Attempt), "1");
        EXPECT_EQ(Cell(pszSlot, BenchColumn::Version), "2.0.0.1");
    }
    EXPECT_EQ(Cell("Left fixture", BenchColumn::Serial), "SN-7");
    EXPECT_EQ(Cell("Slot 1", BenchColumn::Serial), "SN-2");
    EXPECT_EQ(m_view.fields[BenchField::Yield], "100.0 %");
    m_pModel->OnStop();
    ASSERT_TRUE(WaitUntil([this] { return Stopped(); }));
    EXPECT_EQ(m_view.fields[BenchField::Status], "stopped");
    EXPECT_TRUE(m_view.enabled[BenchButton::Start]);
    ExpectViewAgrees();
    // Every bar is drawn a few times per unit, not once per block.
    EXPECT_LT(m_view.nBarCalls, 2 * 6000 / 256);
    const auto records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(std::count_if(records.begin(), records.end(),
                            [](const std::string& s) {
                                return s.find("\"slot\":\"Left fixture\"") != std::string::npos;
                            }),
              1);

    std::ofstream(strSlots) << ConnectorOf("1-7") << " Left\n" << ConnectorOf("1-8") << "\n";
    CRecordingBenchView view;
    CBenchWindowModel other(view, [] { return true; });
    std::string strError;
    EXPECT_FALSE(other.Init(options, strError));
    EXPECT_NE(strError.find("slots.txt:2"), std::string::npos) << strError;
}

// A locked profile that requires a trusted signature: the unsigned image it names
// is refused (the bench opens without one), "Load Binary File" stays off, and a
// signed image flashes with its signer in the record.
TEST_F(BenchModel, ALockedProfileRefusesUnsignedImagesAndRecordsTheSigner) {
    const fwtest::CTestSigner trusted;
    BenchOptions options;
    options.bBench = true;
    options.strFirmwarePath = m_rig.WriteFirmware("plain.bin", 6000, 3);
    std::string strError;
    ASSERT_TRUE(ParseStationProfile("trusted_keys = [\"" + trusted.PublicKeyLine() +
                                        "\"]\nrequire_signature = true\nlocked = true\n",
                                    m_rig.Root() + "/station.toml", options.optProfile.emplace(),
                                    strError))
        << strError;
    ASSERT_TRUE(m_pModel->Init(options, strError)) << strError;
    EXPECT_FALSE(m_pModel->HasImage());
    EXPECT_EQ(
        m_view.messages,
        std::vector<std::string>{"invalid firmware file\nunsigned: plain.bin.minisig is missing "
                                 "and the station profile requires a signature by a trusted key"});
    EXPECT_FALSE(m_view.enabled[BenchButton::Load]);
    EXPECT_FALSE(m_view.enabled[BenchButton::Start]);

    const std::string strSigned = m_rig.WriteFirmware("fw.bin", 6000, 4);
    trusted.SignFile(strSigned, "version=2.1.0.0");
    ASSERT_TRUE(m_pModel->LoadImage(strSigned));
    EXPECT_EQ(m_view.log.back(), "Image signature : version 2.1.0.0, key " + trusted.KeyIdText());
    EXPECT_FALSE(m_view.enabled[BenchButton::Load]);
    Plug(1);
    m_pModel->OnStart();
    ASSERT_TRUE(WaitUntil([this] { return m_pModel->Passed() == 1; }));
    m_pModel->OnStop();
    ASSERT_TRUE(WaitUntil([this] { return Stopped(); }));
    EXPECT_FALSE(m_view.enabled[BenchButton::Load]);
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find("\"image_version\":\"2.1.0.0\",\"image_signer\":\"" +
                              trusted.KeyIdText() + "\""),
              std::string::npos)
        << records[0];
}

// With an expected version: a reader in its application and one in its boot
// loader are flashed and read back; Stop, then Start leaves both alone as
// "current", the counters going on; Reset counters clears them.
TEST_F(BenchModel, ExpectedVersionReadBackAndCountersOverStopStart) {
    BenchOptions options;
    options.strExpectVersion = "2.1.0.0";
    Init(options);
    for (int n : {1, 2}) {
        Plug(n, [n](fwsim::SimDeviceConfig& c) {
            c.eStart = n == 2 ? Personality::BootLoader : Personality::Application;
            c.strFlashedVersion = "2.1.0.0";
        });
    }
    m_pModel->OnStart();
    ASSERT_TRUE(WaitUntil([this] { return m_pModel->Passed() == 2; }));
    for (const char* pszSlot : {"Slot 1", "Slot 2"}) {
        SCOPED_TRACE(pszSlot);
        EXPECT_EQ(Cell(pszSlot, BenchColumn::Version), "2.1.0.0"); // read back
        EXPECT_EQ(Cell(pszSlot, BenchColumn::Result), "passed");
    }
    EXPECT_EQ(Cell("Slot 2", BenchColumn::Serial), "SN-2"); // learnt after its download
    m_pModel->OnStop();
    ASSERT_TRUE(WaitUntil([this] { return Stopped(); }));

    m_pModel->OnStart();
    ASSERT_TRUE(WaitUntil([this] { return m_pModel->Current() == 2; }));
    EXPECT_EQ(m_pModel->Passed(), 2);
    EXPECT_EQ(m_pModel->Failed(), 0);
    EXPECT_EQ(m_view.fields[BenchField::Yield], "100.0 %");
    EXPECT_EQ(Cell("Slot 1", BenchColumn::Result), "current");
    EXPECT_EQ(m_view.tiles[m_pModel->RowOfSlot("Slot 1")].eState, SlotState::Current);
    for (const auto& pDevice : m_devices) {
        EXPECT_EQ(pDevice->DownloadsFinished(), 1);
    }
    m_pModel->OnStop();
    ASSERT_TRUE(WaitUntil([this] { return Stopped(); }));
    EXPECT_TRUE(m_view.LogHas("Stopped: 2 passed, 0 failed, 2 current"));
    EXPECT_TRUE(m_view.enabled[BenchButton::ResetCounters]);
    m_pModel->OnResetCounters();
    EXPECT_EQ(m_pModel->Passed() + m_pModel->Current(), 0);
    EXPECT_EQ(m_view.fields[BenchField::Yield], "-");
    EXPECT_FALSE(m_view.enabled[BenchButton::ResetCounters]);
    ExpectViewAgrees();
}

// A flaky contact: the first attempt fails at a block, the second passes; the row
// shows attempt 2, the unit counts once and not as a first pass. A reader that
// fails every attempt, three units in a row, asks for its cable or fixture. A
// record per attempt.
TEST_F(BenchModel, RetriesAndTheFailureStreak) {
    const std::string strSlots = m_rig.Root() + "/slots.txt";
    std::ofstream(strSlots) << ConnectorOf("1-1") << " Flaky\n" << ConnectorOf("1-2") << " Bad\n";
    BenchOptions options;
    options.strSlotsPath = strSlots;
    options.nRetries = 1;
    Init(options);
    Plug(1, [](fwsim::SimDeviceConfig& c) {
        c.faults.nFailBlock = 2;
        c.faults.nFailTimes = 1;
    });
    fwsim::CSimDevice& bad = Plug(2, [](fwsim::SimDeviceConfig& c) { c.faults.nFailBlock = 1; });
    m_pModel->OnStart();
    ASSERT_TRUE(WaitUntil([this] { return m_pModel->Passed() == 1 && m_pModel->Failed() == 1; }));
    EXPECT_EQ(Cell("Flaky", BenchColumn::Attempt), "2");
    EXPECT_EQ(Cell("Flaky", BenchColumn::Result), "passed");
    EXPECT_EQ(Cell("Bad", BenchColumn::Attempt), "2");
    EXPECT_TRUE(m_view.LogHas("Flaky: attempt 2 after Communication Error"));
    EXPECT_EQ(m_view.fields[BenchField::Yield], "0.0 %");
    EXPECT_EQ(m_pModel->Attempts(), 4);

    // Two more units fail in the bad slot: taken off and plugged in again each time.
    for (int nUnit = 2; nUnit <= 3; ++nUnit) {
        EXPECT_FALSE(m_pModel->Row(m_pModel->RowOfSlot("Bad")).bCheckFixture);
        bad.Unplug();
        ASSERT_TRUE(WaitUntil([&] { return Cell("Bad", BenchColumn::Stage) == "removed"; }));
        ASSERT_TRUE(bad.Replug());
        ASSERT_TRUE(WaitUntil([&] { return m_pModel->Failed() == nUnit; }));
    }
    EXPECT_TRUE(m_pModel->Row(m_pModel->RowOfSlot("Bad")).bCheckFixture);
    EXPECT_EQ(Cell("Bad", BenchColumn::Attempt), "6"); // its records' number
    EXPECT_EQ(Cell("Bad", BenchColumn::Result), "CHECK FIXTURE: failed: Communication Error");
    EXPECT_EQ(m_view.tones[m_pModel->RowOfSlot("Bad")], BenchTone::Fixture);
    EXPECT_EQ(m_view.tiles[m_pModel->RowOfSlot("Bad")].eState, SlotState::CheckFixture);
    EXPECT_EQ(m_view.bars[m_pModel->RowOfSlot("Bad")], kNoBar);
    EXPECT_EQ(Cell("Bad", BenchColumn::Progress).rfind("FAIL at ", 0), 0u);
    EXPECT_EQ(m_view.tiles[m_pModel->RowOfSlot("Flaky")].eState, SlotState::Pass);
    EXPECT_EQ(m_view.tiles[m_pModel->RowOfSlot("Flaky")].nAttempt, 2);
    EXPECT_TRUE(m_view.LogHas("Bad: check the cable or fixture of Bad"));
    EXPECT_EQ(Cell("Flaky", BenchColumn::Result), "passed");
    m_pModel->OnStop();
    ASSERT_TRUE(WaitUntil([this] { return Stopped(); }));
    ExpectViewAgrees();
    const auto records = Records();
    EXPECT_EQ(records.size(), 8u); // two attempts for each of the four units
    // The records count a serial's attempts over the run: Flaky 1, 2; Bad 1 to 6.
    EXPECT_EQ(std::count_if(records.begin(), records.end(),
                            [](const std::string& s) {
                                return s.find("\"attempt\":2") != std::string::npos;
                            }),
              2);
    EXPECT_EQ(std::count_if(records.begin(), records.end(),
                            [](const std::string& s) {
                                return s.find("\"attempt\":6") != std::string::npos;
                            }),
              1);
    EXPECT_EQ(std::count_if(records.begin(), records.end(),
                            [](const std::string& s) {
                                return s.find("\"slot\":\"Bad\"") != std::string::npos;
                            }),
              6);
}

// Stop: the reader in flight finishes. Stop now (after a Yes; a No changes
// nothing) and closing with readers in flight (after a Yes) stop the reader at its
// next packet boundary; the window ends only once the loop has.
TEST_F(BenchModel, StopStopNowAndClose) {
    Init(BenchOptions(), 40000);
    enum class Press { Stop, StopNow, Close };
    for (Press ePress : {Press::Stop, Press::StopNow, Press::Close}) {
        SCOPED_TRACE(static_cast<int>(ePress));
        m_devices.clear();
        fwsim::CSimDevice& device = Plug(1, [](fwsim::SimDeviceConfig& c) {
            c.faults.dwReplyDelayMs = 5; // about 160 blocks: a download in flight for a while
        });
        m_view.questions.clear();
        m_pModel->OnStart();
        ASSERT_TRUE(WaitUntil([&] {
            const int nRow = m_pModel->RowOfSlot("Slot 1");
            return nRow >= 0 && m_pModel->Row(nRow).nProgress > 0 &&
                   m_pModel->Row(nRow).eTone == BenchTone::Busy;
        }));
        const int nPassed = m_pModel->Passed();
        const int nFailed = m_pModel->Failed();
        const int nStopped = m_pModel->Stopped();
        if (ePress == Press::Stop) {
            m_pModel->OnStop();
            EXPECT_FALSE(m_view.enabled[BenchButton::Stop]);
        } else {
            m_view.fnAnswer = [](const std::string&) { return false; };
            ePress == Press::StopNow ? m_pModel->OnStopNow() : m_pModel->OnClose();
            ASSERT_EQ(m_view.questions.size(), 1u);
            EXPECT_TRUE(m_pModel->IsRunning());
            EXPECT_FALSE(m_pModel->IsStopping());
            m_view.fnAnswer = [](const std::string&) { return true; };
            ePress == Press::StopNow ? m_pModel->OnStopNow() : m_pModel->OnClose();
            EXPECT_EQ(m_view.questions.size(), 2u);
            EXPECT_FALSE(m_view.bEnded) << "not before the loop has ended";
        }
        ASSERT_TRUE(WaitUntil([this] { return Stopped(); }));
        const bool bStop = ePress == Press::Stop;
        EXPECT_EQ(m_pModel->Passed(), nPassed + (bStop ? 1 : 0));
        // A stopped unit is neither passed nor failed.
        EXPECT_EQ(m_pModel->Failed(), nFailed);
        EXPECT_EQ(m_pModel->Stopped(), nStopped + (bStop ? 0 : 1));
        EXPECT_EQ(Cell("Slot 1", BenchColumn::Result), bStop ? "passed" : "stopped");
        EXPECT_EQ(m_view.tiles[0].eState, bStop ? SlotState::Pass : SlotState::Stopped);
        EXPECT_EQ(Cell("Slot 1", BenchColumn::Progress).rfind(bStop ? "100 %" : "STOPPED at ", 0),
                  0u);
        EXPECT_EQ(device.DownloadsFinished(), bStop ? 1 : 0);
        EXPECT_EQ(m_view.bEnded, ePress == Press::Close);
        ExpectViewAgrees();
    }
}

// Readers seated before Start show as WAITING with their port's short name; a
// failure sounds only when asked; closing an idle bench that counted units asks
// first, and No keeps it open.
TEST_F(BenchModel, SeatedReadersWaitAndAnIdleCloseAsks) {
    Init(BenchOptions());
    EXPECT_TRUE(m_view.bBoard);
    EXPECT_FALSE(m_view.bSoundOn);
    Plug(1);
    Plug(2, [](fwsim::SimDeviceConfig& c) { c.faults.nFailBlock = 1; });
    ASSERT_TRUE(WaitUntil([this] { return m_pModel->RowCount() == 2; }));
    for (int nRow = 0; nRow < 2; ++nRow) {
        EXPECT_EQ(m_view.tiles[nRow].eState, SlotState::Waiting);
        const std::string strPort = m_view.rows[nRow][static_cast<size_t>(BenchColumn::Port)];
        EXPECT_EQ(strPort.rfind("COM", 0), 0u) << strPort;
        EXPECT_EQ(m_view.tips[std::make_pair(nRow, BenchColumn::Port)],
                  "AT91 USB to Serial Converter (" + strPort + ")");
    }
    m_pModel->OnClose(); // nothing counted yet: no question
    EXPECT_TRUE(m_view.questions.empty());
    m_view.bEnded = false;
    m_pModel->OnToggleSound();
    m_pModel->OnStart();
    ASSERT_TRUE(WaitUntil([this] { return m_pModel->Passed() + m_pModel->Failed() == 2; }));
    EXPECT_EQ(m_view.nSounds, 1);
    m_pModel->OnStop();
    ASSERT_TRUE(WaitUntil([this] { return Stopped(); }));
    m_view.fnAnswer = [](const std::string&) { return false; };
    m_pModel->OnClose();
    ASSERT_EQ(m_view.questions.size(), 1u);
    EXPECT_EQ(m_view.questions[0],
              "Close the bench? This run's counts (1 passed, 1 failed) are not "
              "shown again; the records keep every unit.");
    EXPECT_FALSE(m_view.bEnded);
    m_pModel->OnToggleBoard();
    EXPECT_FALSE(m_view.bBoard);
    m_pModel->OnScaleStep(+1);
    EXPECT_EQ(m_view.nScale, 110);
    m_pModel->OnScaleStep(0);
    EXPECT_EQ(m_view.nScale, 100);
    m_view.fnAnswer = [](const std::string&) { return true; };
    m_pModel->OnClose();
    EXPECT_TRUE(m_view.bEnded);
    ExpectViewAgrees();
}

} // namespace
} // namespace fwup
