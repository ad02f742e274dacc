#include "ui/CSlotBoard.h"

#include <QFont>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>

namespace fwup {

namespace {

QColor ColourOf(uint32_t dwRgb) {
    return QColor(static_cast<QRgb>(0xFF000000u | dwRgb));
}

// The symbol in the square rc, in the text's colour: shapes, not glyphs, so
// that no font need hold them.
void DrawSymbol(QPainter& painter, BenchSymbol eSymbol, const QRectF& rc, const QColor& colour) {
    const double w = rc.width();
    QPen pen(colour, std::max(2.0, w / 9), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const auto at = [&](double x, double y) {
        return QPointF(rc.left() + x * w, rc.top() + y * w);
    };
    switch (eSymbol) {
    case BenchSymbol::Circle:
        painter.drawEllipse(rc.adjusted(w * 0.15, w * 0.15, -w * 0.15, -w * 0.15));
        break;
    case BenchSymbol::Play:
        painter.setBrush(colour);
        painter.drawPolygon(QPolygonF({at(0.25, 0.15), at(0.85, 0.5), at(0.25, 0.85)}));
        break;
    case BenchSymbol::Retry: {
        QPainterPath arc;
        const QRectF rcArc = rc.adjusted(w * 0.15, w * 0.15, -w * 0.15, -w * 0.15);
        arc.arcMoveTo(rcArc, 60);
        arc.arcTo(rcArc, 60, 280);
        painter.drawPath(arc);
        painter.setBrush(colour);
        painter.drawPolygon(QPolygonF({at(0.62, 0.05), at(0.85, 0.2), at(0.6, 0.33)}));
        break;
    }
    case BenchSymbol::Check:
        painter.drawPolyline(QPolygonF({at(0.12, 0.52), at(0.4, 0.8), at(0.9, 0.2)}));
        break;
    case BenchSymbol::Cross:
        painter.drawLine(at(0.18, 0.18), at(0.82, 0.82));
        painter.drawLine(at(0.82, 0.18), at(0.18, 0.82));
        break;
    case BenchSymbol::Warning:
        painter.drawPolygon(QPolygonF({at(0.5, 0.08), at(0.95, 0.9), at(0.05, 0.9)}));
        painter.drawLine(at(0.5, 0.35), at(0.5, 0.6));
        painter.drawPoint(at(0.5, 0.75));
        break;
    case BenchSymbol::Square:
        painter.setBrush(colour);
        painter.drawRect(rc.adjusted(w * 0.2, w * 0.2, -w * 0.2, -w * 0.2));
        break;
    }
}

// A bold font of nPx pixels, smaller until strText fits nRoom pixels.
QFont FittedFont(QFont font, int nPx, const QString& strText, int nRoom) {
    font.setPixelSize(std::max(6, nPx));
    while (font.pixelSize() > 6 && QFontMetrics(font).horizontalAdvance(strText) > nRoom) {
        font.setPixelSize(font.pixelSize() - 1);
    }
    return font;
}

} // namespace

CSlotBoard::CSlotBoard(QWidget* pParent) : QWidget(pParent) {
    setObjectName(QStringLiteral("board"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 80);
}

void CSlotBoard::AddTile() {
    m_tiles.emplace_back();
    m_layout.reset(); // the grid may change
    update();
}

void CSlotBoard::SetTile(int nRow, const BenchTile& tile) {
    if (nRow < 0 || static_cast<size_t>(nRow) >= m_tiles.size()) {
        return;
    }
    m_tiles[static_cast<size_t>(nRow)] = tile;
    update(TileRect(nRow)); // only the tile: 64 slots' progress costs 64 small paints
}

void CSlotBoard::SetScale(int nPercent) {
    m_nScalePercent = nPercent;
    m_layout.reset();
    update();
}

void CSlotBoard::resizeEvent(QResizeEvent* pEvent) {
    m_layout.reset();
    QWidget::resizeEvent(pEvent);
}

QRect CSlotBoard::TileRect(int nRow) const {
    if (!m_layout) {
        // Kept until the tiles, the size or the scale change: every tick asks it per tile.
        m_layout =
            LayOutBoard(static_cast<int>(m_tiles.size()), width(), height(), m_nScalePercent);
    }
    const BoardLayout& layout = *m_layout;
    if (layout.nColumns <= 0 || nRow < 0) {
        return QRect();
    }
    const int nColumn = nRow % layout.nColumns;
    const int nLine = nRow / layout.nColumns;
    return QRect(layout.nGap + nColumn * (layout.nTileWidth + layout.nGap),
                 layout.nGap + nLine * (layout.nTileHeight + layout.nGap), layout.nTileWidth,
                 layout.nTileHeight);
}

void CSlotBoard::paintEvent(QPaintEvent* pEvent) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(pEvent->rect(), palette().color(QPalette::Base));
    for (size_t i = 0; i < m_tiles.size(); ++i) {
        const QRect rc = TileRect(static_cast<int>(i));
        // The region, not its bounding box: a tick that changed two far tiles
        // draws those two.
        if (!pEvent->region().intersects(rc)) {
            continue;
        }
        const BenchTile& tile = m_tiles[i];
        const TileColours colours = SlotStateColours(tile.eState);
        const QColor text = ColourOf(colours.dwText);
        // Square corners: a rounded one costs curves and antialiasing at every tick.
        painter.fillRect(rc, ColourOf(colours.dwBackground));

        const TileMetrics metrics = MeasureTile(rc.width(), rc.height());
        const QRectF rcSymbol(rc.left() + metrics.nPad,
                              rc.top() + (rc.height() - metrics.nSymbol) / 2.0, metrics.nSymbol,
                              metrics.nSymbol);
        DrawSymbol(painter, SlotStateSymbol(tile.eState), rcSymbol, text);
        const int nTextLeft = rc.left() + 2 * metrics.nPad + metrics.nSymbol;
        const int nRoom = rc.right() - metrics.nPad - nTextLeft;
        painter.setPen(text);
        QFont font = this->font();
        font.setBold(true);
        const QString strSlot = QString::fromStdString(tile.strSlot);
        painter.setFont(FittedFont(font, metrics.nLabelPx, strSlot, nRoom));
        painter.drawText(QRect(nTextLeft, rc.top() + metrics.nPad, nRoom, metrics.nLabelPx * 3 / 2),
                         Qt::AlignLeft | Qt::AlignVCenter, strSlot);
        const QString strWord = QString::fromStdString(TileWord(tile));
        if (m_wordFontFor != rc.size()) {
            // One size for every tile's word, the widest word's: the board reads
            // evenly, and the fitting is measured once per layout, not per paint.
            m_wordFont = font;
            for (const char* pszWidest : {"CHECK FIXTURE", "RUNNING 100 %"}) {
                m_wordFont = FittedFont(font,
                                        std::min(metrics.nWordPx, m_wordFont.pixelSize() > 0
                                                                      ? m_wordFont.pixelSize()
                                                                      : metrics.nWordPx),
                                        QString::fromUtf8(pszWidest), nRoom);
            }
            m_wordFontFor = rc.size();
        }
        painter.setFont(m_wordFont);
        painter.drawText(QRect(nTextLeft, rc.top(), nRoom, rc.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, strWord);
        font.setBold(false);
        const QString strDetail = QString::fromStdString(TileDetail(tile));
        painter.setFont(FittedFont(font, metrics.nDetailPx, strDetail, nRoom));
        painter.drawText(QRect(nTextLeft, rc.bottom() - metrics.nPad - metrics.nDetailPx * 3 / 2,
                               nRoom, metrics.nDetailPx * 3 / 2),
                         Qt::AlignLeft | Qt::AlignVCenter, strDetail);
    }
}

} // namespace fwup
