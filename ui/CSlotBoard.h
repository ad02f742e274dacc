#pragma once
// The bench's board as a Qt widget: one tile per slot, laid out by LayOutBoard
// and drawn with the words, symbols and colours of BenchTile.h. It shows what the
// window tells it; GUI thread only. Object name "board".

#include "windowmodel/BenchTile.h"

#include <QFont>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <optional>
#include <vector>

namespace fwup {

class CSlotBoard : public QWidget {
    Q_OBJECT
public:
    explicit CSlotBoard(QWidget* pParent = nullptr);

    void AddTile(); // a new last tile, WAITING
    void SetTile(int nRow, const BenchTile& tile);
    void SetScale(int nPercent);
    const std::vector<BenchTile>& Tiles() const { return m_tiles; }
    // The tile's place in the widget; empty when it has no room.
    QRect TileRect(int nRow) const;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    std::vector<BenchTile> m_tiles;
    int m_nScalePercent = 100;
    mutable std::optional<BoardLayout> m_layout; // none: to be laid out again
    QFont m_wordFont;    // the words' font for tiles of m_wordFontFor's size
    QSize m_wordFontFor; // empty: not measured yet
};

} // namespace fwup
