#pragma once
// A slot's tile on the bench board: the state as a large word, a symbol and a
// colour (the colour never carries the state alone), the serial number and the
// attempt. The bench model keeps one per row and both views draw it; the words,
// symbols and colours live here once.

#include <cstdint>
#include <string>

namespace fwup {

enum class SlotState : int {
    Waiting,      // a reader is seated (or none yet); no job has run on it since Start
    Running,      // a job in flight, its first attempt
    Retrying,     // a job in flight after a failed attempt
    Pass,         // the last unit passed
    Fail,         // the last unit failed
    CheckFixture, // the last units of this slot all failed: its cable or fixture
    Stopped,      // the last unit was stopped by "Stop now" or the window's close
    Current       // the last unit already ran the expected version: nothing sent
};

// What a view draws beside the word; drawn as a shape, so no font need hold it.
enum class BenchSymbol : int {
    Circle,  // waiting
    Play,    // running
    Retry,   // running again
    Check,   // passed
    Cross,   // failed
    Warning, // check the fixture
    Square   // stopped
};

// A tile's percentage moves in these steps (the table's is exact).
inline constexpr int kTileProgressStep = 5;

struct BenchTile {
    std::string strSlot;
    SlotState eState = SlotState::Waiting;
    int nProgress = 0;     // 0..100 in steps of kTileProgressStep, shown while running
    std::string strSerial; // empty when the reader told none
    int nAttempt = 0;      // the attempt shown; 0 before the first
    bool operator==(const BenchTile&) const = default;
};

// Background and text colour, 0xRRGGBB, from the Okabe–Ito set (safe for
// colour-blind viewers); the text contrasts at least 4.5:1 with the background.
struct TileColours {
    uint32_t dwBackground;
    uint32_t dwText;
};
TileColours SlotStateColours(SlotState eState);
// "PASS", "FAIL", "CHECK FIXTURE", "RUNNING 40 %", "RETRY 40 %", "WAITING", "STOPPED".
std::string TileWord(const BenchTile& tile);
BenchSymbol SlotStateSymbol(SlotState eState);
// The tile's small line: "SN00000001 · attempt 2" (the serial as the reader tells
// it); parts left out when unknown.
std::string TileDetail(const BenchTile& tile);

// The short name of a listed port: "COM9" of "AT91 USB to Serial Converter (COM9)";
// the whole name when it ends in no parenthesis.
std::string ShortPortName(const std::string& strListedName);

// Where a view puts nTiles tiles in a board of nWidth × nHeight pixels at
// nScalePercent: the grid that gives the tallest tiles (no wider than four times
// their height, no taller than 150 px at 100 %), row by row in the model's order.
struct BoardLayout {
    int nColumns = 0;
    int nRows = 0;
    int nTileWidth = 0;
    int nTileHeight = 0;
    int nGap = 0; // around and between tiles
};
BoardLayout LayOutBoard(int nTiles, int nWidth, int nHeight, int nScalePercent);
// A tile's parts at its size, in pixels: the padding, the symbol's square, and the
// font heights of the slot's label, the word and the detail line. A view shrinks
// the word's font further when the word is wider than its room.
struct TileMetrics {
    int nPad;
    int nSymbol;
    int nLabelPx;
    int nWordPx;
    int nDetailPx;
};
TileMetrics MeasureTile(int nTileWidth, int nTileHeight);

// A text as wide as the column's widest usual content, by BenchColumn; a view
// sizes the column to it (and to its title) at each scale, so nothing usual is cut.
const char* BenchColumnSample(int nColumn);

// Board and table scale, in percent of the default; Ctrl+Plus and Ctrl+Minus step it.
inline constexpr int kBenchScaleMin = 50;
inline constexpr int kBenchScaleMax = 300;
inline constexpr int kBenchScaleStep = 10;
// nPercent moved by nSteps steps (0: back to 100), kept within the bounds.
int SteppedScale(int nPercent, int nSteps);

} // namespace fwup
