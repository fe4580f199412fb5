#pragma once

#include <QString>

// What the progress bar and its label show while the browser pane loads.
struct ProgressView {
    float barValue = 0.0f;
    bool barVisible = false;
    QString label;
};

// The display after the browser reports (progress, progressMax). A progress of
// -1 means the load finished. Each step runs on its own: a product that
// overflows 32 bits leaves the bar value and the label as the earlier steps set
// them, and a percentage the bar refuses leaves its value alone.
ProgressView nextProgressView(ProgressView current, int progress, int progressMax);
