#pragma once
// Dialog units to pixels, as the dialog templates are laid out: x and widths in
// quarters of the font's average character width, y and heights in eighths of
// its height, rounded like MulDiv.

#include <QFont>
#include <QRect>

namespace fwup {

struct DialogBaseUnits {
    int nCharWidth = 0;  // average character width, pixels
    int nCharHeight = 0; // character height, pixels
};

DialogBaseUnits BaseUnitsOf(const QFont& font);

// n * nMul / nDiv rounded half away from zero.
int MulDivRound(int n, int nMul, int nDiv);

QRect DluToPixels(const QRect& rcDlu, const DialogBaseUnits& units);

} // namespace fwup
