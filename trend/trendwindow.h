#pragma once

#include "csvexport.h"

#include <QTimer>
#include <QWidget>
#include <functional>

class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QScatterSeries;
class QValueAxis;

namespace trend {

class Recorder;

// A live chart of chosen series, redrawn from the store on a timer while it is shown.
class TrendWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int refreshMs = 1000;
    static constexpr int maxSeries = 8;
    static constexpr std::size_t maxSegments = 50; // line pieces of one series
    static constexpr int drawnColumns = 1000;      // readings drawn per series: twice this

    explicit TrendWindow(const Recorder &recorder, QWidget *parent = nullptr);

    // False when the series is already shown or the chart is full.
    bool addSeries(const SeriesKey &key);
    void clearSeries();
    void setSpanMinutes(int minutes);
    void setPaused(bool paused);
    bool isPaused() const { return paused_; }
    // Takes the span's samples from the store and redraws; does nothing while paused.
    // The time axis ends at the next twelfth of the span after now.
    void refresh();

    // What the chart shows, as CSV (see trendCsv) and as a picture of the chart.
    bool exportCsv(const QString &path) const;
    bool savePng(const QString &path) const;
    QSize chartSize() const;
    const std::vector<ShownSeries> &shown() const { return shown_; }

    static QString seriesName(const SeriesKey &key);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void redraw();
    void tick();
    QLineSeries *segment(std::size_t series, std::size_t n);
    QScatterSeries *dots(std::size_t series);
    void showHover(int index, const QPointF &point, bool entered);
    void askCsv();
    void askPng();
    void askPath(const QString &name, const QString &filter,
                 std::function<bool(const QString &)> save);

    const Recorder &recorder_;
    std::vector<ShownSeries> shown_;
    std::vector<std::vector<QLineSeries *>> lines_; // per series, one per run between gaps
    std::vector<QScatterSeries *> dots_;            // per series, runs past maxSegments
    QChart *chart_;
    QChartView *view_;
    QDateTimeAxis *timeAxis_;
    QValueAxis *valueAxis_;
    QComboBox *span_;
    QPushButton *pause_;
    QLabel *status_;
    QTimer timer_;
    std::int64_t spanMs_ = 10 * 60 * 1000;
    std::int64_t shownUntil_ = 0; // the time axis' end, on the steady clock
    // Wall clock minus steady clock when last refreshed: readings are drawn at their age before
    // the wall clock's now, so a step of the clock moves the whole chart and empties nothing.
    std::int64_t wallOffset_ = 0;
    std::uint64_t shownRevision_ = 0;
    bool paused_ = false;
};

} // namespace trend
