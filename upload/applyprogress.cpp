#include "applyprogress.h"

#include "progress.h"
#include "progressbar.h"

#include <QLabel>

void applyProgress(FractionProgressBar &bar, QLabel &label, int progress, int progressMax) {
    const ProgressView current{bar.fraction(), !bar.isHidden(), label.text()};
    const ProgressView next = nextProgressView(current, progress, progressMax);
    bar.setFraction(next.barValue);
    bar.setVisible(next.barVisible);
    label.setText(next.label);
}

void applyLoadFailure(QLabel &label, const std::optional<QString> &failure) {
    if (failure)
        label.setText(QStringLiteral("Failed"));
    label.setToolTip(failure ? QStringLiteral("The upload page failed: ") + *failure : QString());
}
