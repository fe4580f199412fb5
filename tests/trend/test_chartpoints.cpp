#include "chartpoints.h"

#include <QTest>
#include <limits>

using namespace trend;

// The chart's lines from recorded readings: runs between gaps, thinned to the pixel columns,
// and the value axis over what is drawn.
class TestChartPoints : public QObject {
    Q_OBJECT
private slots:
    void lines_data();
    void lines();
};

namespace {
// "ms:value" separated by blanks; "-" as the value marks a gap.
std::vector<Sample> samples(const QString &text) {
    std::vector<Sample> out;
    for (const QString &item : text.split(u' ', Qt::SkipEmptyParts)) {
        const QStringList parts = item.split(u':');
        const float value =
            parts[1] == u'-' ? std::numeric_limits<float>::quiet_NaN() : parts[1].toFloat();
        out.push_back({parts[0].toLongLong(), value, 0});
    }
    return out;
}
} // namespace

void TestChartPoints::lines_data() {
    QTest::addColumn<QString>("readings");
    QTest::addColumn<int>("columnMs");
    QTest::addColumn<QString>("drawn"); // runs separated by " | "
    QTest::addColumn<QString>("axis");

    QTest::newRow("gaps split the runs and belong to none")
        << "0:- 100:5 200:7 300:- 400:- 500:1 600:-" << 1 << "100:5 200:7 | 500:1"
        << "0-8";
    QTest::newRow("a lone reading between gaps is a run") << "0:- 10:7 20:-" << 1 << "10:7"
                                                          << "6-8";
    QTest::newRow("of a column, its highest and lowest in their order")
        << "0:5 10:9 20:1 30:6 100:4" << 100 << "10:9 20:1 100:4"
        << "0-10";
    QTest::newRow("a flat column is its first reading") << "0:3 10:3 20:3" << 100 << "0:3"
                                                        << "2-4";
    QTest::newRow("columns count from time 0, not from the run")
        << "950:2 1050:8 1100:6 1150:5" << 1000 << "950:2 1050:8 1150:5"
        << "1-9";
    QTest::newRow("a column of 0 ms is one of 1 ms") << "0:4 0:6 1:5" << 0 << "0:4 0:6 1:5"
                                                     << "3-7";
    QTest::newRow("a 5 % margin on a wide spread") << "0:200 10:1200" << 1 << "0:200 10:1200"
                                                   << "150-1250";
    QTest::newRow("the axis stops at 0") << "0:0 10:1000" << 1 << "0:0 10:1000"
                                         << "0-1050";
    QTest::newRow("only gaps: nothing drawn, no axis") << "0:- 10:-" << 1 << ""
                                                       << "none";
}

void TestChartPoints::lines() {
    QFETCH(QString, readings);
    QFETCH(int, columnMs);
    const std::vector<Sample> all = samples(readings);
    QStringList runs;
    float low = std::numeric_limits<float>::max(), high = std::numeric_limits<float>::lowest();
    for (const auto run : splitRuns(all)) {
        std::vector<Sample> thinned;
        thinRun(run, columnMs, thinned);
        QStringList points;
        for (const Sample &s : thinned) {
            points << QStringLiteral("%1:%2").arg(s.ms).arg(double(s.value));
            low = std::min(low, s.value);
            high = std::max(high, s.value);
        }
        runs << points.join(u' ');
    }
    QTEST(runs.join(QStringLiteral(" | ")), "drawn");
    const auto range = valueAxisRange(low, high);
    QTEST(range ? QStringLiteral("%1-%2").arg(range->low).arg(range->high) : QStringLiteral("none"),
          "axis");
}

QTEST_MAIN(TestChartPoints)
#include "test_chartpoints.moc"
