#pragma once

#include "recorder.h"

#include <QObject>
#include <QPointer>

namespace trend {

class TrendWindow;

// The station's trend feature: the recorder that always runs, and the one chart window, made
// when the operator first asks for a series and gone again when closed.
class Trends : public QObject {
    Q_OBJECT
public:
    explicit Trends(QWidget *window);

    Recorder &recorder() { return recorder_; }
    // Brings up the chart with the series the cell of a slot's row shows (row 1 is the first
    // register); false when that cell has shown no reading yet.
    bool show(int link, int slot, int row);
    TrendWindow *chart() const;

private:
    QWidget *owner_;
    Recorder recorder_;
    QPointer<TrendWindow> chart_;
};

} // namespace trend
