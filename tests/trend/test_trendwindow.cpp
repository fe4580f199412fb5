#include "poll.h"
#include "recorder.h"
#include "trendwindow.h"

#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <ctime>

using namespace trend;

// A recorded set exported as the window shows it.
class TestTrendWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void exports_data();
    void exports();
};

namespace {
// 2026-12-08 12:00:00 UTC.
constexpr std::int64_t noon = 1796731200000;

modbus::SlotResult valid(int slave, int start, std::vector<std::uint16_t> values) {
    modbus::SlotResult result;
    result.outcome = modbus::SlotOutcome::Valid;
    result.request = {std::uint8_t(slave), std::uint16_t(start), std::uint8_t(values.size())};
    result.registers = std::move(values);
    return result;
}
} // namespace

void TestTrendWindow::initTestCase() {
    qputenv("TZ", "UTC");
    tzset();
}

void TestTrendWindow::exports_data() {
    QTest::addColumn<int>("spanMinutes");
    QTest::addColumn<int>("stepMs"); // the wall clock is set by this before the last readings
    QTest::addColumn<QString>("csv");

    const QString header = QStringLiteral("time,link,slave,register,value\r\n");
    QTest::newRow("10 min: both series, the gap as an empty value")
        << 10 << 0
        << header + "2026-12-08T11:55:00.000Z,0,2,1142,400\r\n"
                    "2026-12-08T11:59:00.000Z,0,2,1142,\r\n"
                    "2026-12-08T11:59:30.500Z,0,2,1142,412\r\n"
                    "2026-12-08T11:55:00.200Z,1,9,1139,1500\r\n"
                    "2026-12-08T11:59:30.700Z,1,9,1139,1502\r\n";
    QTest::newRow("1 min: only the last minute")
        << 1 << 0
        << header + "2026-12-08T11:59:00.000Z,0,2,1142,\r\n"
                    "2026-12-08T11:59:30.500Z,0,2,1142,412\r\n"
                    "2026-12-08T11:59:30.700Z,1,9,1139,1502\r\n";
    // Readings keep their order and their own times; every line breaks at the step.
    QTest::newRow("clock set back 2 min") << 10 << -120000
                                          << header + "2026-12-08T11:55:00.000Z,0,2,1142,400\r\n"
                                                      "2026-12-08T11:59:00.000Z,0,2,1142,\r\n"
                                                      "2026-12-08T11:57:30.500Z,0,2,1142,412\r\n"
                                                      "2026-12-08T11:55:00.200Z,1,9,1139,1500\r\n"
                                                      "2026-12-08T11:57:30.500Z,1,9,1139,\r\n"
                                                      "2026-12-08T11:57:30.700Z,1,9,1139,1502\r\n";
    QTest::newRow("clock set forward 1 h, 1 min span")
        << 1 << 3600000
        << header + "2026-12-08T11:59:00.000Z,0,2,1142,\r\n"
                    "2026-12-08T12:59:30.500Z,0,2,1142,412\r\n"
                    "2026-12-08T12:59:30.500Z,1,9,1139,\r\n"
                    "2026-12-08T12:59:30.700Z,1,9,1139,1502\r\n";
}

void TestTrendWindow::exports() {
    QFETCH(int, spanMinutes);
    QFETCH(int, stepMs);
    QFETCH(QString, csv);

    Recorder recorder;
    std::int64_t now = 0, step = 0;
    recorder.setClocks([&] { return now + step; }, [&now] { return now; });
    const auto at = [&](std::int64_t ms, int link, int slot, const modbus::SlotResult &result) {
        now = ms;
        recorder.record(link, slot, result);
    };
    at(noon - 20 * 60000, 0, 0, valid(2, 1139, {1, 2, 3, 399})); // outside every span
    at(noon - 5 * 60000, 0, 0, valid(2, 1139, {1, 2, 3, 400}));
    at(noon - 5 * 60000 + 200, 1, 0, valid(9, 1139, {1500}));
    at(noon - 60000, 0, 0, modbus::SlotResult{modbus::SlotOutcome::NoReply});
    step = stepMs;
    at(noon - 29500, 0, 0, valid(2, 1139, {1, 2, 3, 412}));
    at(noon - 29300, 1, 0, valid(9, 1139, {1502}));
    now = noon;

    TrendWindow window(recorder);
    window.setSpanMinutes(spanMinutes);
    QVERIFY(window.addSeries({0, 2, 1142}));
    QVERIFY(window.addSeries({1, 9, 1139}));
    QVERIFY(!window.addSeries({1, 9, 1139}));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QTemporaryDir dir;
    QVERIFY(window.exportCsv(dir.filePath("trend.csv")));
    QFile file(dir.filePath("trend.csv"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()), csv);

    QVERIFY(window.savePng(dir.filePath("trend.png")));
    const QImage png(dir.filePath("trend.png"));
    QVERIFY(!png.isNull());
    QCOMPARE(png.size() / png.devicePixelRatio(), window.chartSize());
}

QTEST_MAIN(TestTrendWindow)
#include "test_trendwindow.moc"
