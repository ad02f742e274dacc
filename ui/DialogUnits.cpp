#include "ui/DialogUnits.h"

#include <QFontMetrics>

namespace fwup {

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    return DialogBaseUnits{metrics.averageCharWidth(), metrics.height()};
}

int MulDivRound(int n, int nMul, int nDiv) {
    const long long nProduct = static_cast<long long>(n) * nMul;
    const long long nHalf = nDiv / 2;
    return static_cast<int>(nProduct >= 0 ? (nProduct + nHalf) / nDiv : (nProduct - nHalf) / nDiv);
}

QRect DluToPixels(const QRect& rcDlu, const DialogBaseUnits& units) {
    return QRect(MulDivRound(rcDlu.x(), units.nCharWidth, 4),
                 MulDivRound(rcDlu.y(), units.nCharHeight, 8),
                 MulDivRound(rcDlu.width(), units.nCharWidth, 4),
                 MulDivRound(rcDlu.height(), units.nCharHeight, 8));
}

} // namespace fwup
