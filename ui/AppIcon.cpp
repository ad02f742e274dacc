#include "ui/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace fwup {

namespace {

// A hand-held reader (rounded body, screen) with a green download arrow.
QPixmap DrawIcon(int nSize) {
    QPixmap pixmap(nSize, nSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = nSize / 32.0;

    painter.setPen(QPen(QColor(30, 40, 70), qMax(1.0, 1.2 * s)));
    painter.setBrush(QColor(70, 95, 160));
    painter.drawRoundedRect(QRectF(6 * s, 2 * s, 20 * s, 28 * s), 4 * s, 4 * s);
    painter.setBrush(QColor(200, 225, 250));
    painter.setPen(Qt::NoPen);
    painter.drawRect(QRectF(9 * s, 5 * s, 14 * s, 10 * s));

    QPainterPath arrow;
    arrow.moveTo(13 * s, 17 * s);
    arrow.lineTo(19 * s, 17 * s);
    arrow.lineTo(19 * s, 22 * s);
    arrow.lineTo(23 * s, 22 * s);
    arrow.lineTo(16 * s, 29 * s);
    arrow.lineTo(9 * s, 22 * s);
    arrow.lineTo(13 * s, 22 * s);
    arrow.closeSubpath();
    painter.setBrush(QColor(40, 170, 70));
    painter.setPen(QPen(QColor(20, 90, 35), qMax(1.0, 0.8 * s)));
    painter.drawPath(arrow);
    return pixmap;
}

} // namespace

QIcon MakeAppIcon() {
    QIcon icon;
    for (const int nSize : {16, 24, 32, 48, 256}) {
        icon.addPixmap(DrawIcon(nSize));
    }
    return icon;
}

} // namespace fwup
