#include "resizerule.h"

#include "twips.h"

namespace {
constexpr int heightAboveBrowser = 1680;
}

QRect browserGeometry(QRect current, int innerWidthTwips, int innerHeightTwips) {
    QRect next = current;
    if (innerWidthTwips >= 0)
        next.setWidth(px(innerWidthTwips));
    if (const int height = innerHeightTwips - heightAboveBrowser; height >= 0)
        next.setHeight(px(height));
    return next;
}
