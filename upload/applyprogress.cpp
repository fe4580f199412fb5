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
