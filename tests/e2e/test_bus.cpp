// The whole station on the simulator's shared wire: four slaves per link that find frames by
// silence, behind adapters that hand replies over in chunks, and one slave that answers just after
// the station has given up on it. Every request must stand alone on the wire.
//
// BUS_CYCLES=1000 runs the long variant by hand (about 20 minutes).
#include "form1.h"
#include "plantsim.h"
#include "poll.h"
#include "scancontrol.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>

namespace {

int cyclesWanted() {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("BUS_CYCLES", &ok);
    return ok && n > 0 ? n : 5;
}

// Slave 60, slot 1 of link 0, starts its reply 510 ms after the request left the wire: about
// 10 ms after the station's 0.5 s time-out, while slot 2 is next on the same wire.
constexpr int lateLink = 0;
constexpr int lateSlot = 1;

} // namespace

class TestBus : public QObject {
    Q_OBJECT
private slots:
    void everyRequestStandsAloneOnTheWire() {
        const int cycles = cyclesWanted();
        PlantSim sim({"--static", "--bus", "--chunk-bytes", "8", "--latency-ms", "1", "--slaves1",
                      "9,10,11,12", "--late", "every:1", "--fault-slaves", "60", "--late-ms",
                      "510"});
        QVERIFY(sim.start());
        qputenv("RTU_STATION_PORTS", sim.portPattern().toLocal8Bit());
        QTemporaryDir dir;
        Form1 form({}, {dir.filePath("mwRARE.csv")});
        QCOMPARE(form.cmd_coneck->text(), QStringLiteral("DisConnect"));
        QCOMPARE(form.cmd_coneck1->text(), QStringLiteral("DisConnect"));
        const QStringList ids1{"9", "10", "11", "12"};
        for (int i = 0; i < 4; ++i) {
            form.txtaID1[i]->setText(ids1[i]);
            form.cheAID[i]->setChecked(true);
            form.cheAID1[i]->setChecked(true);
        }

        using modbus::SlotOutcome;
        std::array<std::array<SlotOutcome, 4>, 2> outcome{};
        QStringList faults;
        int done = 0;
        int lateTaken = 0; // the late slot's turns that still ended valid
        QObject::connect(form.scanControl(), &scan::ScanControl::cycleStarted,
                         [&] { outcome = {}; });
        for (int link = 0; link < 2; ++link) {
            QObject::connect(form.poll(link), &modbus::LinkPoll::slotFinished,
                             [&, link](int slot, const modbus::SlotResult &r) {
                                 outcome[std::size_t(link)][std::size_t(slot)] = r.outcome;
                             });
        }
        QObject::connect(form.scanControl(), &scan::ScanControl::cycleFinished, [&] {
            ++done;
            for (int link = 0; link < 2; ++link) {
                for (int slot = 0; slot < 4; ++slot) {
                    const SlotOutcome o = outcome[std::size_t(link)][std::size_t(slot)];
                    // A time-out that fires late on a loaded machine may still catch the late
                    // reply; that slot may end either way.
                    if (link == lateLink && slot == lateSlot)
                        lateTaken += o == SlotOutcome::Valid;
                    else if (o != SlotOutcome::Valid)
                        faults << QStringLiteral("cycle %1 link %2 slot %3: outcome %4")
                                      .arg(done)
                                      .arg(link)
                                      .arg(slot)
                                      .arg(int(o));
                }
            }
        });
        // A plain event loop: QTest::qWait sleeps 10 ms between its rounds, which would hold the
        // station's timers back and stretch every silence.
        QEventLoop loop;
        QObject::connect(form.scanControl(), &scan::ScanControl::cycleFinished, &loop, [&] {
            if (done >= cycles)
                loop.quit();
        });
        QTimer::singleShot(10000 + cycles * 3000, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        loop.exec();
        QVERIFY2(done >= cycles, qPrintable(QString::number(done)));

        const auto counts = sim.counts();
        QVERIFY(counts);
        const QStringList wire = sim.stats();
        qInfo("%d cycles in %.1f s; %d slot turns wrong; the late slot valid %d times", done,
              clock.elapsed() / 1000.0, int(faults.size()), lateTaken);
        qInfo("plant-sim: requests=%llu late=%llu bad=%llu merged=%lld collisions=%lld "
              "silence_min_us=%lld",
              counts->requests, counts->late, counts->bad, counts->merged, counts->collisions,
              counts->silenceMinUs);
        for (const QString &line : wire)
            qInfo("%s", qPrintable(line));
        QVERIFY2(faults.isEmpty(), qPrintable(faults.mid(0, 10).join(u'\n')));
        QCOMPARE(counts->merged, 0);
        QCOMPARE(counts->collisions, 0);
        QCOMPARE(counts->bad, 0u);
        QVERIFY2(counts->silenceMinUs >= 1750, qPrintable(QString::number(counts->silenceMinUs)));
        QVERIFY(counts->late >= quint64(done));
    }
};

int main(int argc, char **argv) {
    // A thousand cycles by hand outlast Qt Test's five-minute watchdog.
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number((cyclesWanted() * 3 + 120) * 1000LL));
    QApplication app(argc, argv);
    TestBus test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_bus.moc"
