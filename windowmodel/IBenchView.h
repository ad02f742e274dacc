#pragma once
// IBenchView: what the bench window's model (CBenchWindowModel) asks of a toolkit.
// A view shows what it is told and hands the operator's input to the model; it
// keeps no rules of its own. Every call comes on the GUI thread. Texts are UTF-8
// with '\n' line breaks.
//
// Progress is coalesced by the model: a row's bar is set at most once per tick
// (the view's timer calls CBenchWindowModel::OnTick every kBenchTickMs), however
// many progress reports its reader sent meanwhile.

#include "windowmodel/BenchTile.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>

namespace fwup {

// The one-line texts of the window's top and counters.
enum class BenchField : int {
    ImageName,    // the image's file name; "no image loaded" before one is
    ImageSize,    // "123456 bytes"
    ImageDate,    // the file's last write, UTC, "YYYY.MM.DD hh:mm:ss"
    ImageHash,    // SHA-256 shortened: its first 16 hex digits and "..."
    Store,        // where the records go, a password hidden; "none" without --record
    Station,      // the station's name; empty without --station
    Passed,       // units whose last attempt passed
    Failed,       // units whose last attempt failed (stopped and current ones apart)
    Yield,        // first-pass yield, "95.0 %"; "-" before the first unit
    UnitsPerHour, // finished units per hour of the running time, "412"
    Elapsed,      // running time since Start, "h:mm:ss"
    Status        // one line: "idle", "running", "stopping", "stopped"
};

// The field's stable key (not shown): views name its control after it, so that tests
// and automation find the field whatever its label says.
inline const char* BenchFieldKey(BenchField eField) {
    static constexpr const char* kKeys[] = {"ImageName", "ImageSize",    "ImageDate", "ImageHash",
                                            "Store",     "Station",      "Passed",    "Failed",
                                            "Yield",     "UnitsPerHour", "Elapsed",   "Status"};
    static_assert(std::size(kKeys) == static_cast<size_t>(BenchField::Status) + 1);
    return kKeys[static_cast<size_t>(eField)];
}

enum class BenchButton : int {
    Load,         // "Load Binary File"
    Start,        // "&Start"
    Stop,         // "S&top"
    StopNow,      // "Stop &now"
    ResetCounters // "&Reset counters"
};

// The table's columns, in the order shown.
enum class BenchColumn : int {
    Slot,
    Port,
    Serial,
    Version,
    Stage,
    Progress, // a bar; its cell text is the percentage ("42 %") for readers of the text
    Result,
    Seconds,
    Attempt
};
inline constexpr int kBenchColumnCount = 9;

// What a row's result means; a view maps it to a colour. The result's text always
// says the same in words, so colour never carries it alone.
enum class BenchTone : int {
    Idle,     // no unit yet, or the reader was removed
    Busy,     // a job in flight
    Passed,   // the last unit passed
    Failed,   // the last unit failed or was stopped
    Retrying, // the last attempt failed and the unit is tried again
    Fixture   // the slot's last units all failed: check its cable or fixture
};

// The result cell's background for a tone, 0xRRGGBB: the board's colour of the
// same state, each dark text's contrast at least 4.5:1; none for Idle (the
// table's own background).
inline std::optional<uint32_t> BenchToneRgb(BenchTone eTone) {
    switch (eTone) {
    case BenchTone::Busy:
        return SlotStateColours(SlotState::Running).dwBackground;
    case BenchTone::Passed:
        return SlotStateColours(SlotState::Pass).dwBackground;
    case BenchTone::Failed:
        return SlotStateColours(SlotState::Fail).dwBackground;
    case BenchTone::Retrying:
        return SlotStateColours(SlotState::Retrying).dwBackground;
    case BenchTone::Fixture:
        return SlotStateColours(SlotState::CheckFixture).dwBackground;
    case BenchTone::Idle:
        break;
    }
    return std::nullopt;
}

// SetRowProgress's value for a finished row that did not pass: no bar; the
// Progress cell's text says the outcome ("FAIL at 4 %").
inline constexpr int kNoBar = -1;

class IBenchView {
public:
    virtual ~IBenchView() = default;

    // The window's caption: "VelgoFWUp bench — <image name>".
    virtual void SetTitle(const std::string& strTitle) = 0;
    virtual void SetField(BenchField eField, const std::string& strText) = 0;
    virtual void EnableButton(BenchButton eButton, bool bEnable) = 0;

    // Rows are only appended, one per slot, in the order slots are first seen;
    // nRow counts from 0. AddRow appends row RowCount() with empty cells, Idle.
    virtual void AddRow() = 0;
    virtual void SetCell(int nRow, BenchColumn eColumn, const std::string& strText) = 0;
    // The row's bar, 0..100, or kNoBar (the Progress cell's text is set alongside).
    virtual void SetRowProgress(int nRow, int nPos) = 0;
    virtual void SetRowTone(int nRow, BenchTone eTone) = 0;
    // A cell's tooltip (the port's listed name behind its short name).
    virtual void SetCellTip(int nRow, BenchColumn eColumn, const std::string& strTip) = 0;
    // The row's tile on the board (one per row, same order).
    virtual void SetTile(int nRow, const BenchTile& tile) = 0;

    // The board (true) or the table in the window's middle; the board first.
    virtual void ShowBoard(bool bBoard) = 0;
    // Board and table drawn at nPercent of their default size; the view keeps it for
    // the user's next bench.
    virtual void SetScale(int nPercent) = 0;
    // The "Sound on failure" entry's check mark; a failed unit's sound.
    virtual void SetSoundOn(bool bOn) = 0;
    virtual void PlayFailureSound() = 0;

    // The log: append complete lines (each ends with '\n'); drop the oldest
    // nLines lines (the model keeps the log bounded).
    virtual void AppendLog(const std::string& strLines) = 0;
    virtual void DropLogLines(int nLines) = 0;

    // A modal question with Yes and No, the program's name as caption; true for
    // Yes. Reports posted meanwhile may be delivered from inside it.
    virtual bool AskYesNo(const std::string& strText) = 0;
    // A modal box, OK only.
    virtual void ShowMessage(const std::string& strText) = 0;
    // The open-file dialog (*.bin, then all files); none when cancelled.
    virtual std::optional<std::string> AskFirmwareFile() = 0;
    // Ends the window; the model is idle by then (no reader in flight).
    virtual void EndWindow() = 0;
    // Text from the device (version, serial number) as UTF-8, in the platform's
    // code page for device text.
    virtual std::string TextFromDevice(const std::string& strBytes) const = 0;
};

} // namespace fwup
