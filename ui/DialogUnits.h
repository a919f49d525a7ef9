// Positions and sizes of the window layouts are given in dialog units, the
// units of the classic 8-point dialog font at 96 dpi: 1.5 pixels across and
// 1.625 pixels down. Each value is converted on its own and rounded half away
// from zero, as the dialog templates they come from were.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace skelvane {

constexpr int ScaleRounded(int units, int numerator, int denominator)
{
    const long long product = static_cast<long long>(units) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : -((-product + half) / denominator));
}

constexpr int DialogUnitsToPixelsX(int units) { return ScaleRounded(units, 3, 2); }
constexpr int DialogUnitsToPixelsY(int units) { return ScaleRounded(units, 13, 8); }

inline QRect DialogRect(int x, int y, int width, int height)
{
    return QRect(DialogUnitsToPixelsX(x), DialogUnitsToPixelsY(y), DialogUnitsToPixelsX(width),
                 DialogUnitsToPixelsY(height));
}

inline QSize DialogSize(int width, int height)
{
    return QSize(DialogUnitsToPixelsX(width), DialogUnitsToPixelsY(height));
}

// Puts a control at a rectangle given in dialog units. A label, radio button
// or check box whose text needs more width than the
// layout gave it is widened to fit rather than cut: the fonts here are wider
// than the one the units were drawn for.
void PlaceControl(QWidget* control, int x, int y, int width, int height);

// The application font the layouts are made for: the desktop's font at 8
// points, the size of the classic dialog font.
QFont DialogFont();

}  // namespace skelvane
