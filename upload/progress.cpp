#include "progress.h"

#include "fraction.h"

#include <cmath>

ProgressView nextProgressView(ProgressView current, int progress, int progressMax) {
    ProgressView next = current;
    if (progress == -1)
        next.barValue = kFractionMaximum;
    next.label = QStringLiteral("Done");
    next.barVisible = false;

    if (progress <= 0 || progressMax <= 0)
        return next;

    next.barVisible = true;
    int scaled = 0;
    if (__builtin_mul_overflow(progress, 100, &scaled))
        return next;

    const double percent = static_cast<double>(scaled) / static_cast<double>(progressMax);
    const float barValue = static_cast<float>(percent);
    if (isAcceptedFraction(barValue))
        next.barValue = barValue;
    const auto whole = static_cast<qint64>(std::floor(percent));
    next.label = QStringLiteral("Loading ") + QString::number(whole) + QLatin1Char('%');
    return next;
}
