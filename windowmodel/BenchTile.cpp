// The bench board's words, symbols and colours.
#include "windowmodel/BenchTile.h"

#include <algorithm>
#include <iterator>

namespace fwup {

namespace {

// Okabe & Ito (2008), "Color Universal Design".
constexpr uint32_t kBluishGreen = 0x009E73;
constexpr uint32_t kVermillion = 0xD55E00;
constexpr uint32_t kYellow = 0xF0E442;
constexpr uint32_t kSkyBlue = 0x56B4E9;
constexpr uint32_t kOrange = 0xE69F00;
constexpr uint32_t kBlue = 0x0072B2;
constexpr uint32_t kGrey = 0xE0E0E0;      // waiting: neutral, not a result
constexpr uint32_t kPaleGreen = 0xBFE7DC; // current: bluish green's tint, good but not flashed
constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kWhite = 0xFFFFFF;

} // namespace

TileColours SlotStateColours(SlotState eState) {
    switch (eState) {
    case SlotState::Running:
        return {kSkyBlue, kBlack};
    case SlotState::Retrying:
        return {kOrange, kBlack};
    case SlotState::Pass:
        return {kBluishGreen, kBlack};
    case SlotState::Fail:
        return {kVermillion, kBlack};
    case SlotState::CheckFixture:
        return {kYellow, kBlack};
    case SlotState::Stopped:
        return {kBlue, kWhite};
    case SlotState::Current:
        return {kPaleGreen, kBlack};
    case SlotState::Waiting:
        break;
    }
    return {kGrey, kBlack};
}

std::string TileWord(const BenchTile& tile) {
    switch (tile.eState) {
    case SlotState::Running:
        return "RUNNING " + std::to_string(tile.nProgress) + " %";
    case SlotState::Retrying:
        return "RETRY " + std::to_string(tile.nProgress) + " %";
    case SlotState::Pass:
        return "PASS";
    case SlotState::Fail:
        return "FAIL";
    case SlotState::CheckFixture:
        return "CHECK FIXTURE";
    case SlotState::Stopped:
        return "STOPPED";
    case SlotState::Current:
        return "CURRENT";
    case SlotState::Waiting:
        break;
    }
    return "WAITING";
}

BenchSymbol SlotStateSymbol(SlotState eState) {
    switch (eState) {
    case SlotState::Running:
        return BenchSymbol::Play;
    case SlotState::Retrying:
        return BenchSymbol::Retry;
    case SlotState::Pass:
        return BenchSymbol::Check;
    case SlotState::Fail:
        return BenchSymbol::Cross;
    case SlotState::CheckFixture:
        return BenchSymbol::Warning;
    case SlotState::Stopped:
        return BenchSymbol::Square;
    case SlotState::Current:
        return BenchSymbol::Check;
    case SlotState::Waiting:
        break;
    }
    return BenchSymbol::Circle;
}

std::string TileDetail(const BenchTile& tile) {
    std::string strDetail;
    if (!tile.strSerial.empty()) {
        strDetail = tile.strSerial;
    }
    if (tile.nAttempt > 0) {
        strDetail += (strDetail.empty() ? "" : " \u00b7 ") + std::string("attempt ") +
                     std::to_string(tile.nAttempt);
    }
    return strDetail;
}

std::string ShortPortName(const std::string& strListedName) {
    const size_t nOpen = strListedName.rfind('(');
    if (strListedName.empty() || strListedName.back() != ')' || nOpen == std::string::npos ||
        nOpen + 2 >= strListedName.size()) {
        return strListedName;
    }
    return strListedName.substr(nOpen + 1, strListedName.size() - nOpen - 2);
}

BoardLayout LayOutBoard(int nTiles, int nWidth, int nHeight, int nScalePercent) {
    BoardLayout best;
    best.nGap = std::max(4, 8 * nScalePercent / 100);
    if (nTiles <= 0 || nWidth <= 0 || nHeight <= 0) {
        return best;
    }
    const int nCapHeight = 150 * nScalePercent / 100;
    for (int nColumns = 1; nColumns <= nTiles; ++nColumns) {
        const int nRows = (nTiles + nColumns - 1) / nColumns;
        const int nWide = (nWidth - best.nGap * (nColumns + 1)) / nColumns;
        const int nHigh = std::min({(nHeight - best.nGap * (nRows + 1)) / nRows, nCapHeight,
                                    nWide * 2 / 5}); // room for the word beside the symbol
        if (nHigh > best.nTileHeight) {
            best.nColumns = nColumns;
            best.nRows = nRows;
            best.nTileHeight = nHigh;
            best.nTileWidth = std::min(nWide, nHigh * 4);
        }
    }
    return best;
}

TileMetrics MeasureTile(int nTileWidth, int nTileHeight) {
    TileMetrics metrics;
    metrics.nPad = std::max(2, nTileHeight / 12);
    metrics.nSymbol = std::min(nTileHeight * 9 / 25, nTileWidth / 5);
    metrics.nLabelPx = std::max(8, nTileHeight * 16 / 100);
    metrics.nWordPx = std::max(8, nTileHeight * 30 / 100);
    metrics.nDetailPx = std::max(8, nTileHeight * 14 / 100);
    return metrics;
}

const char* BenchColumnSample(int nColumn) {
    // Slot, Port, Serial, Version, Stage, Progress, Result, Seconds, Attempt.
    static constexpr const char* kSamples[] = {"Slot 16",   "COM199",   "SN00000000",
                                               "2.10.0.10", "starting", "STOPPED at 100 %",
                                               "passed",    "1000.0",   "10"};
    return nColumn >= 0 && nColumn < static_cast<int>(std::size(kSamples)) ? kSamples[nColumn] : "";
}

int SteppedScale(int nPercent, int nSteps) {
    if (nSteps == 0) {
        return 100;
    }
    return std::clamp(nPercent + nSteps * kBenchScaleStep, kBenchScaleMin, kBenchScaleMax);
}

} // namespace fwup
