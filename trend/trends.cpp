#include "trends.h"

#include "trendwindow.h"

namespace trend {

Trends::Trends(QWidget *window)
    : QObject(window)
    , owner_(window) {}

TrendWindow *Trends::chart() const {
    return chart_;
}

bool Trends::show(int link, int slot, int row) {
    const auto key = recorder_.store().seriesAt(link, slot, row);
    if (!key)
        return false;
    if (!chart_) {
        chart_ = new TrendWindow(recorder_, owner_);
        chart_->setAttribute(Qt::WA_DeleteOnClose);
    }
    chart_->addSeries(*key);
    chart_->show();
    chart_->raise();
    chart_->activateWindow();
    return true;
}

} // namespace trend
