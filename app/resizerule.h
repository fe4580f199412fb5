#pragma once

#include <QRect>

// The browser pane follows the window: as wide as the inner area and 1680 twips less than its
// height, its top-left corner fixed. A height that would be negative is not applied.
QRect browserGeometry(QRect current, int innerWidthTwips, int innerHeightTwips);
