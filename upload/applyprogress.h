#pragma once

#include <QString>
#include <optional>

class FractionProgressBar;
class QLabel;

// Shows the browser's (progress, progressMax) report on the window's bar and
// label.
void applyProgress(FractionProgressBar &bar, QLabel &label, int progress, int progressMax);

// After a failed load the label reads "Failed", never "Done", with the reason in its tooltip;
// without a failure the tooltip is cleared.
void applyLoadFailure(QLabel &label, const std::optional<QString> &failure);
