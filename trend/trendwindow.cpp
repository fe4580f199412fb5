#include "trendwindow.h"

#include "chartpoints.h"
#include "recorder.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCursor>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QSaveFile>
#include <QScatterSeries>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace trend {
namespace {
// Eight colours that stay apart from each other on a white chart.
constexpr std::array<QRgb, TrendWindow::maxSeries> seriesColours{
    0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd, 0x8c564b, 0xe377c2, 0x17becf};
constexpr std::array spanMinutes{1, 10, 60};

QString timeText(std::int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}
} // namespace

TrendWindow::TrendWindow(const Recorder &recorder, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , recorder_(recorder)
    , chart_(new QChart) // the view takes it over
    , view_(new QChartView(chart_, this))
    , timeAxis_(new QDateTimeAxis(chart_))
    , valueAxis_(new QValueAxis(chart_))
    , span_(new QComboBox(this))
    , pause_(new QPushButton(QStringLiteral("Pause"), this))
    , status_(new QLabel(this)) {
    setWindowTitle(QStringLiteral("Trend"));
    resize(900, 520);
    chart_->legend()->setAlignment(Qt::AlignRight);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(valueAxis_, Qt::AlignLeft);
    valueAxis_->setLabelFormat(QStringLiteral("%.0f"));
    view_->setRenderHint(QPainter::Antialiasing);

    for (int minutes : spanMinutes)
        span_->addItem(QStringLiteral("%1 min").arg(minutes), minutes);
    span_->setCurrentIndex(1);
    connect(span_, &QComboBox::currentIndexChanged, this,
            [this] { setSpanMinutes(span_->currentData().toInt()); });
    pause_->setCheckable(true);
    connect(pause_, &QPushButton::toggled, this, &TrendWindow::setPaused);
    auto *csv = new QPushButton(QStringLiteral("Export CSV…"), this);
    connect(csv, &QPushButton::clicked, this, &TrendWindow::askCsv);
    auto *png = new QPushButton(QStringLiteral("Save PNG…"), this);
    connect(png, &QPushButton::clicked, this, &TrendWindow::askPng);
    auto *clear = new QPushButton(QStringLiteral("Clear"), this);
    connect(clear, &QPushButton::clicked, this, &TrendWindow::clearSeries);

    auto *bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Span"), this));
    bar->addWidget(span_);
    bar->addWidget(pause_);
    bar->addWidget(csv);
    bar->addWidget(png);
    bar->addWidget(clear);
    bar->addWidget(status_, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(view_, 1);

    timer_.setInterval(refreshMs);
    connect(&timer_, &QTimer::timeout, this, &TrendWindow::tick);
    setSpanMinutes(10);
}

QString TrendWindow::seriesName(const SeriesKey &key) {
    return QStringLiteral("link %1, slave %2, register %3")
        .arg(key.link)
        .arg(key.slave)
        .arg(key.address);
}

bool TrendWindow::addSeries(const SeriesKey &key) {
    const bool known = std::any_of(shown_.begin(), shown_.end(),
                                   [&](const ShownSeries &s) { return s.key == key; });
    if (known || int(shown_.size()) >= maxSeries) {
        status_->setText(known
                             ? QStringLiteral("%1 is shown already").arg(seriesName(key))
                             : QStringLiteral("The chart holds %1 series at most").arg(maxSeries));
        return false;
    }
    shown_.push_back({key, {}});
    lines_.emplace_back();
    dots_.push_back(nullptr);
    segment(shown_.size() - 1, 0)->setName(seriesName(key));
    status_->clear();
    // A paused chart takes the new series in at the paused moment.
    if (paused_) {
        shown_.back().samples = recorder_.store().samples(key, shownUntil_ - spanMs_);
        std::erase_if(shown_.back().samples,
                      [this](const Sample &s) { return s.ms > shownUntil_; });
        redraw();
    } else {
        refresh();
    }
    return true;
}

void TrendWindow::clearSeries() {
    chart_->removeAllSeries(); // deletes them
    lines_.clear();
    dots_.clear();
    shown_.clear();
    status_->clear();
    redraw();
}

void TrendWindow::setSpanMinutes(int minutes) {
    spanMs_ = std::int64_t(minutes) * 60 * 1000;
    timeAxis_->setFormat(minutes > 10 ? QStringLiteral("HH:mm") : QStringLiteral("HH:mm:ss"));
    const int index = span_->findData(minutes);
    if (index >= 0 && index != span_->currentIndex())
        span_->setCurrentIndex(index);
    if (!paused_)
        refresh();
}

void TrendWindow::setPaused(bool paused) {
    paused_ = paused;
    if (pause_->isChecked() != paused)
        pause_->setChecked(paused);
    pause_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    if (paused)
        timer_.stop();
    else if (isVisible())
        timer_.start();
    if (!paused)
        refresh();
}

void TrendWindow::refresh() {
    if (paused_)
        return;
    // The axis moves in steps: its labels, costly to lay out, change only then.
    const std::int64_t step = spanMs_ / 12;
    shownUntil_ = (recorder_.now() + step - 1) / step * step;
    wallOffset_ = recorder_.wallNow() - recorder_.now();
    shownRevision_ = recorder_.store().revision();
    for (auto &shown : shown_)
        shown.samples = recorder_.store().samples(shown.key, shownUntil_ - spanMs_);
    redraw();
}

// A line series cannot break, so each run of readings between gaps has a series of its own, in
// the colour of the first, which alone has a legend entry.
QLineSeries *TrendWindow::segment(std::size_t series, std::size_t n) {
    auto &segments = lines_[series];
    while (segments.size() <= n) {
        auto *line = new QLineSeries(chart_);
        QPen pen(QColor::fromRgb(seriesColours[series % seriesColours.size()]));
        pen.setWidthF(1.5);
        line->setPen(pen);
        line->setColor(pen.color());
        chart_->addSeries(line);
        line->attachAxis(timeAxis_);
        line->attachAxis(valueAxis_);
        if (!segments.empty())
            chart_->legend()->markers(line).constFirst()->setVisible(false);
        connect(line, &QLineSeries::hovered, this,
                [this, series](const QPointF &point, bool entered) {
                    showHover(int(series), point, entered);
                });
        segments.push_back(line);
    }
    return segments[n];
}

QScatterSeries *TrendWindow::dots(std::size_t series) {
    auto &dots = dots_[series];
    if (!dots) {
        dots = new QScatterSeries(chart_);
        dots->setColor(QColor::fromRgb(seriesColours[series % seriesColours.size()]));
        dots->setBorderColor(dots->color());
        dots->setMarkerSize(3);
        chart_->addSeries(dots);
        dots->attachAxis(timeAxis_);
        dots->attachAxis(valueAxis_);
        chart_->legend()->markers(dots).constFirst()->setVisible(false);
        connect(dots, &QScatterSeries::hovered, this,
                [this, series](const QPointF &point, bool entered) {
                    showHover(int(series), point, entered);
                });
    }
    return dots;
}

// Redraws only when there is something new to show.
void TrendWindow::tick() {
    const std::int64_t step = spanMs_ / 12;
    const std::int64_t until = (recorder_.now() + step - 1) / step * step;
    if (until != shownUntil_ || recorder_.store().revision() != shownRevision_)
        refresh();
}

void TrendWindow::redraw() {
    float low = std::numeric_limits<float>::max(), high = std::numeric_limits<float>::lowest();
    const std::int64_t column = spanMs_ / drawnColumns;
    std::vector<Sample> thinned;
    const auto points = [&](std::span<const Sample> run, QList<QPointF> &out) {
        thinned.clear();
        thinRun(run, column, thinned);
        for (const Sample &s : thinned) {
            out.append({double(s.ms + wallOffset_), double(s.value)});
            low = std::min(low, s.value);
            high = std::max(high, s.value);
        }
    };
    for (std::size_t i = 0; i < shown_.size(); ++i) {
        const auto runs = splitRuns(shown_[i].samples);
        // Past the cap, the oldest runs are drawn as dots: a flapping slot would otherwise make
        // the chart carry thousands of series.
        const std::size_t dotted = runs.size() > maxSegments ? runs.size() - maxSegments : 0;
        if (dotted || dots_[i]) {
            QList<QPointF> scattered;
            for (std::size_t r = 0; r < dotted; ++r)
                points(runs[r], scattered);
            dots(i)->replace(scattered);
        }
        std::size_t used = 0;
        for (std::size_t r = dotted; r < runs.size(); ++r) {
            QList<QPointF> line;
            line.reserve(qsizetype(runs[r].size()));
            points(runs[r], line);
            QLineSeries *series = segment(i, used++);
            series->setPointsVisible(line.size() == 1); // a lone reading is a dot
            series->replace(line);
        }
        for (std::size_t n = used; n < lines_[i].size(); ++n)
            lines_[i][n]->clear();
    }
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(shownUntil_ - spanMs_ + wallOffset_),
                        QDateTime::fromMSecsSinceEpoch(shownUntil_ + wallOffset_));
    if (const auto range = valueAxisRange(low, high)) {
        valueAxis_->setRange(range->low, range->high);
        valueAxis_->applyNiceNumbers();
    } else {
        valueAxis_->setRange(0, 1);
    }
}

void TrendWindow::showHover(int index, const QPointF &point, bool entered) {
    if (!entered || index >= int(shown_.size())) {
        QToolTip::hideText();
        return;
    }
    // The nearest reading, not a point on the line between two.
    const auto &samples = shown_[std::size_t(index)].samples;
    const double x = point.x() - double(wallOffset_);
    const auto at = std::lower_bound(samples.begin(), samples.end(), std::int64_t(x),
                                     [](const Sample &s, std::int64_t ms) { return s.ms < ms; });
    auto nearest = at;
    if (at == samples.end() ||
        (at != samples.begin() && x - double((at - 1)->ms) < double(at->ms) - x))
        nearest = at - 1;
    if (nearest < samples.begin() || nearest == samples.end())
        return;
    const QString value =
        nearest->isGap() ? QStringLiteral("no reading") : QString::number(qint64(nearest->value));
    QToolTip::showText(QCursor::pos(), QStringLiteral("%1\n%2\n%3")
                                           .arg(seriesName(shown_[std::size_t(index)].key),
                                                timeText(nearest->wallMs()), value));
}

bool TrendWindow::exportCsv(const QString &path) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(trendCsv(shown_).toUtf8());
    return file.commit();
}

bool TrendWindow::savePng(const QString &path) const {
    return view_->grab().save(path, "PNG");
}

QSize TrendWindow::chartSize() const {
    return view_->size();
}

void TrendWindow::askCsv() {
    askPath(QStringLiteral("trend.csv"), QStringLiteral("CSV (*.csv)"),
            [this](const QString &path) { return exportCsv(path); });
}

void TrendWindow::askPng() {
    askPath(QStringLiteral("trend.png"), QStringLiteral("PNG (*.png)"),
            [this](const QString &path) { return savePng(path); });
}

// The dialog is window-modal and reports when done: the station goes on polling meanwhile.
void TrendWindow::askPath(const QString &name, const QString &filter,
                          std::function<bool(const QString &)> save) {
    auto *dialog = new QFileDialog(this, QString(), name, filter);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [this, save](const QString &path) {
        status_->setText(save(path) ? QStringLiteral("Saved %1").arg(path)
                                    : QStringLiteral("Could not write %1").arg(path));
    });
    dialog->open();
}

void TrendWindow::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (!paused_) {
        refresh();
        timer_.start();
    }
}

void TrendWindow::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    timer_.stop();
}

} // namespace trend
