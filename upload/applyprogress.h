#pragma once

class FractionProgressBar;
class QLabel;

// Shows the browser's (progress, progressMax) report on the window's bar and
// label.
void applyProgress(FractionProgressBar &bar, QLabel &label, int progress, int progressMax);
