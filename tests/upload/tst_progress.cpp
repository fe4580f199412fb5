// The progress display: the pure step function over the browser's reports,
// the fraction bar, and both applied to real widgets.
#include "applyprogress.h"
#include "progress.h"
#include "progressbar.h"

#include <QLabel>
#include <QTest>

#include <limits>

class ProgressTest : public QObject {
    Q_OBJECT

private slots:
    void nextView_data();
    void nextView();
    void barKeepsFractions();
    void barRefusesOutOfRange_data();
    void barRefusesOutOfRange();
    void applyFollowsALoad();
    void applyKeepsBarOnRefusedValue();
};

namespace {
// A value the bar held before the report, to see whether it was left alone.
constexpr float kPrevious = 7.5f;
} // namespace

void ProgressTest::nextView_data() {
    QTest::addColumn<bool>("wasVisible");
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("progressMax");
    QTest::addColumn<float>("barValue");
    QTest::addColumn<bool>("barVisible");
    QTest::addColumn<QString>("label");

    // Load finished: full bar, hidden, whatever the maximum.
    QTest::newRow("finished") << true << -1 << 0 << 100.0f << false << "Done";
    QTest::newRow("finished, odd max") << true << -1 << 250 << 100.0f << false << "Done";
    QTest::newRow("finished, negative max") << false << -1 << -7 << 100.0f << false << "Done";

    // Loading: shown, exact float percentage, floored label.
    QTest::newRow("quarter") << false << 50 << 200 << 25.0f << true << "Loading 25%";
    QTest::newRow("third") << false << 1 << 3 << 33.333332f << true << "Loading 33%";
    QTest::newRow("floors, not rounds") << false << 199 << 200 << 99.5f << true << "Loading 99%";
    QTest::newRow("tenth of a percent") << false << 1 << 1000 << 0.1f << true << "Loading 0%";
    QTest::newRow("whole") << false << 100 << 100 << 100.0f << true << "Loading 100%";
    QTest::newRow("browser percent") << false << 42 << 100 << 42.0f << true << "Loading 42%";

    // Above 100 %: the bar refuses the value, the label still tells it.
    QTest::newRow("over the top") << false << 300 << 200 << kPrevious << true << "Loading 150%";

    // Largest progress whose product still fits in 32 bits.
    QTest::newRow("largest product")
        << false << 21474836 << 21474836 << 100.0f << true << "Loading 100%";
    // Product overflows: shown, but value and label as the earlier steps left them.
    QTest::newRow("overflow") << false << 30000000 << 60000000 << kPrevious << true << "Done";
    QTest::newRow("overflow, first past the limit")
        << true << 21474837 << 100000000 << kPrevious << true << "Done";
    QTest::newRow("overflow, int max")
        << false << std::numeric_limits<int>::max() << 1 << kPrevious << true << "Done";

    // Nothing to show: hidden, value unchanged.
    QTest::newRow("zero progress") << true << 0 << 200 << kPrevious << false << "Done";
    QTest::newRow("zero max") << true << 50 << 0 << kPrevious << false << "Done";
    QTest::newRow("negative max") << true << 50 << -100 << kPrevious << false << "Done";
    QTest::newRow("negative progress") << true << -2 << 100 << kPrevious << false << "Done";
    QTest::newRow("int min") << true << std::numeric_limits<int>::min() << 100 << kPrevious << false
                             << "Done";
}

void ProgressTest::nextView() {
    QFETCH(bool, wasVisible);
    QFETCH(int, progress);
    QFETCH(int, progressMax);
    QFETCH(float, barValue);
    QFETCH(bool, barVisible);
    QFETCH(QString, label);

    const ProgressView before{kPrevious, wasVisible, QStringLiteral("Loading 7%")};
    const ProgressView after = nextProgressView(before, progress, progressMax);

    // Exact float comparison on purpose: the value must not be cut or rounded.
    QCOMPARE(after.barValue, barValue);
    QCOMPARE(after.barVisible, barVisible);
    QCOMPARE(after.label, label);
}

void ProgressTest::barKeepsFractions() {
    FractionProgressBar bar;
    QCOMPARE(bar.fraction(), 0.0f);
    QVERIFY(!bar.isTextVisible());

    QVERIFY(bar.setFraction(33.333332f));
    QCOMPARE(bar.fraction(), 33.333332f);
    QVERIFY(bar.setFraction(0.1f));
    QCOMPARE(bar.fraction(), 0.1f);

    // The drawn bar follows on its finer scale.
    QVERIFY(bar.setFraction(25.0f));
    QCOMPARE(bar.value() * 100 / (bar.maximum() - bar.minimum()), 25);
    QVERIFY(bar.setFraction(100.0f));
    QCOMPARE(bar.value(), bar.maximum());
    QVERIFY(bar.setFraction(0.0f));
    QCOMPARE(bar.value(), bar.minimum());
}

void ProgressTest::barRefusesOutOfRange_data() {
    QTest::addColumn<float>("value");
    QTest::newRow("just above 100") << 100.01f;
    QTest::newRow("150") << 150.0f;
    QTest::newRow("just below 0") << -0.001f;
    QTest::newRow("infinity") << std::numeric_limits<float>::infinity();
    QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN();
}

void ProgressTest::barRefusesOutOfRange() {
    QFETCH(float, value);
    FractionProgressBar bar;
    QVERIFY(bar.setFraction(42.5f));
    const int drawn = bar.value();

    QVERIFY(!bar.setFraction(value));
    QCOMPARE(bar.fraction(), 42.5f);
    QCOMPARE(bar.value(), drawn);
}

void ProgressTest::applyFollowsALoad() {
    FractionProgressBar bar;
    QLabel label;
    bar.hide();

    applyProgress(bar, label, 10, 100);
    QVERIFY(!bar.isHidden());
    QCOMPARE(bar.fraction(), 10.0f);
    QCOMPARE(label.text(), QStringLiteral("Loading 10%"));

    applyProgress(bar, label, 1, 3);
    QCOMPARE(bar.fraction(), 33.333332f);
    QCOMPARE(label.text(), QStringLiteral("Loading 33%"));

    applyProgress(bar, label, -1, 0);
    QVERIFY(bar.isHidden());
    QCOMPARE(bar.fraction(), 100.0f);
    QCOMPARE(label.text(), QStringLiteral("Done"));
}

void ProgressTest::applyKeepsBarOnRefusedValue() {
    FractionProgressBar bar;
    QLabel label;

    applyProgress(bar, label, 50, 200);
    applyProgress(bar, label, 300, 200);
    QVERIFY(!bar.isHidden());
    QCOMPARE(bar.fraction(), 25.0f);
    QCOMPARE(label.text(), QStringLiteral("Loading 150%"));

    applyProgress(bar, label, 30000000, 60000000);
    QVERIFY(!bar.isHidden());
    QCOMPARE(bar.fraction(), 25.0f);
    QCOMPARE(label.text(), QStringLiteral("Done"));

    applyProgress(bar, label, 0, 200);
    QVERIFY(bar.isHidden());
    QCOMPARE(bar.fraction(), 25.0f);
    QCOMPARE(label.text(), QStringLiteral("Done"));
}

QTEST_MAIN(ProgressTest)
#include "tst_progress.moc"
