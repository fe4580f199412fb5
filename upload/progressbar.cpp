#include "progressbar.h"

#include "fraction.h"

#include <cmath>

namespace {
// Internal steps per percent: enough for the bar to move smoothly.
constexpr int kStepsPerPercent = 100;
} // namespace

FractionProgressBar::FractionProgressBar(QWidget *parent)
    : QProgressBar(parent) {
    setRange(static_cast<int>(kFractionMinimum) * kStepsPerPercent,
             static_cast<int>(kFractionMaximum) * kStepsPerPercent);
    setTextVisible(false);
    setValue(0);
}

bool FractionProgressBar::setFraction(float value) {
    if (!isAcceptedFraction(value))
        return false;
    m_fraction = value;
    setValue(static_cast<int>(std::lround(value * kStepsPerPercent)));
    return true;
}
