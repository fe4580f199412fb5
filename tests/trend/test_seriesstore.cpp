#include "seriesstore.h"

#include <QTest>

using namespace trend;

// Readings of link 0, slot 0, and what each series then holds.
//   event:  "MS SLAVE START V1 V2 ..." a valid reply, "MS gap" a turn without values
//   expect: "SLAVE ADDRESS FROM: MS=VALUE MS=- ..." the series' samples at or after FROM
class TestSeriesStore : public QObject {
    Q_OBJECT
private slots:
    void records_data();
    void records();
};

void TestSeriesStore::records_data() {
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("keepMs");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("expect");
    QTest::addColumn<int>("seriesCount");
    QTest::addColumn<int>("firstCellAddress"); // what row 1 shows now; -1: nothing
    QTest::addColumn<int>("maxSeries");        // 0: the default

    QTest::newRow("a failed turn leaves one gap, never a value")
        << 100 << 3600000
        << QStringList{"0 2 1139 10 11", "500 gap", "1000 gap", "1500 2 1139 12 13"}
        << QStringList{"2 1140 0: 0=11 500=- 1500=13", "2 1139 0: 0=10 500=- 1500=12"} << 2 << 1139
        << 0;
    QTest::newRow("another slave is another series")
        << 100 << 3600000 << QStringList{"0 2 1139 5", "500 3 1139 7"}
        << QStringList{"2 1139 0: 0=5 500=-", "3 1139 0: 500=7"} << 2 << 1139 << 0;
    QTest::newRow("a moved start address: registers still read go on")
        << 100 << 3600000 << QStringList{"0 2 1139 1 2", "500 2 1140 3 4"}
        << QStringList{"2 1139 0: 0=1 500=-", "2 1140 0: 0=2 500=3", "2 1141 0: 500=4"} << 3 << 1140
        << 0;
    QTest::newRow("a shorter block ends the rows it left")
        << 100 << 3600000 << QStringList{"0 2 1139 1 2", "500 2 1139 3"}
        << QStringList{"2 1140 0: 0=2 500=-", "2 1139 0: 0=1 500=3"} << 2 << 1139 << 0;
    QTest::newRow("the ring keeps the newest when full")
        << 3 << 3600000
        << QStringList{"0 2 1 1", "500 2 1 2", "1000 2 1 3", "1500 2 1 4", "2000 2 1 5"}
        << QStringList{"2 1 0: 1000=3 1500=4 2000=5"} << 1 << 1 << 0;
    QTest::newRow("a span takes only its own samples")
        << 100 << 3600000 << QStringList{"0 2 1 1", "500 2 1 2", "1000 2 1 3", "1500 gap"}
        << QStringList{"2 1 600: 1000=3 1500=-", "2 1 2000: ", "9 9 0: "} << 1 << 1 << 0;
    QTest::newRow("a series not read for the keep time goes when another is born")
        << 100 << 1000 << QStringList{"0 2 1 1", "5000 3 1 2", "10000 4 1 3"}
        << QStringList{"2 1 0: ", "3 1 0: 5000=2 10000=-", "4 1 0: 10000=3"} << 2 << 1 << 0;
    QTest::newRow("nothing read: no series")
        << 100 << 3600000 << QStringList{"0 gap"} << QStringList{} << 0 << -1 << 0;
    // Each new slave in slot 0 is a new series; the previous one ends with a gap.
    QTest::newRow("past the cap the series read longest ago goes")
        << 100 << 3600000
        << QStringList{"0 2 1 1", "500 3 1 2", "1000 4 1 3", "1500 2 1 4", "2000 5 1 5"}
        << QStringList{"3 1 0: ", "2 1 0: 0=1 500=- 1500=4 2000=-", "4 1 0: 1000=3 1500=-",
                       "5 1 0: 2000=5"}
        << 3 << 1 << 3;
}

void TestSeriesStore::records() {
    QFETCH(int, capacity);
    QFETCH(int, keepMs);
    QFETCH(QStringList, events);
    QFETCH(QStringList, expect);
    QFETCH(int, seriesCount);
    QFETCH(int, firstCellAddress);
    QFETCH(int, maxSeries);

    StoreLimits limits;
    limits.samplesPerSeries = std::size_t(capacity);
    limits.keepMs = keepMs;
    if (maxSeries > 0)
        limits.maxSeries = std::size_t(maxSeries);
    SeriesStore store(limits);
    for (const QString &event : events) {
        const QStringList f = event.split(u' ');
        if (f[1] == u"gap") {
            store.recordGap(0, 0, f[0].toLongLong());
            continue;
        }
        std::vector<std::uint16_t> values;
        for (qsizetype i = 3; i < f.size(); ++i)
            values.push_back(std::uint16_t(f[i].toUInt()));
        store.recordValues(0, 0, f[0].toLongLong(), f[1].toInt(), f[2].toInt(), values);
    }

    for (const QString &line : expect) {
        const QStringList head = line.section(u':', 0, 0).split(u' ');
        const SeriesKey key{0, head[0].toInt(), head[1].toInt()};
        QStringList got;
        for (const Sample &s : store.samples(key, head[2].toLongLong()))
            got << QStringLiteral("%1=%2").arg(s.ms).arg(s.isGap() ? QStringLiteral("-")
                                                                   : QString::number(s.value));
        QCOMPARE(got.join(u' '), line.section(u':', 1).trimmed());
    }
    QCOMPARE(int(store.seriesCount()), seriesCount);
    const auto first = store.seriesAt(0, 0, 1);
    QCOMPARE(first ? first->address : -1, firstCellAddress);
    // Storage never passes the caps.
    QVERIFY(store.bytes() <= store.seriesCount() * std::size_t(capacity) * sizeof(Sample));
    QVERIFY(!store.seriesAt(0, 0, limits.rows + 1));
}

QTEST_APPLESS_MAIN(TestSeriesStore)
#include "test_seriesstore.moc"
