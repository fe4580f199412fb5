// The whole station on the simulator's shared wire: slaves that find frames by silence, behind
// adapters that hand replies over in chunks, with one misbehaving slave or device on link 0.
// Every request must stand alone on the wire, no healthy slave may be blamed for another's fault,
// and a fault on one link must not stop the other.
//
// BUS_CYCLES=1000 runs the long variant by hand (about 20 minutes a row).
#include "form1.h"
#include "poll.h"
#include "scancontrol.h"
#include "simstation.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <array>
#include <map>

namespace {

using modbus::SlotOutcome;
using Outcomes = std::array<std::array<SlotOutcome, 4>, 2>;

int cyclesWanted() {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("BUS_CYCLES", &ok);
    return ok && n > 0 ? n : 5;
}

const QStringList common{"--static", "--bus", "--slaves1", "9,10,11,12"};
// A USB adapter at its usual setting: 62-byte buffer, a 16 ms latency timer that ticks on its own.
const QStringList ftdi{"--chunk-bytes", "62", "--latency-ms", "16", "--latency-free-running"};

// What the window did over some cycles: each cycle's slot outcomes and its work (cycleStarted
// to cycleFinished), and the simulator's counts after the first cycles and at the end.
struct BusRun {
    std::vector<Outcomes> outcomes;
    std::vector<double> workMs;
    std::optional<PlantCounts> warm; // after the warm-up cycles
    std::optional<PlantCounts> counts;
    QStringList wire;
    QString csv; // the snapshot file's text at the end

    double medianWorkMs() const {
        std::vector<double> w = workMs;
        std::sort(w.begin(), w.end());
        return w.empty() ? 0 : w[w.size() / 2];
    }
};

// The window on the simulator's links with the first `ticked0` and `ticked1` slots of each link
// ticked (link 1 reads slaves 9..12), run for `cycles` cycles or until `limitMs` has passed.
BusRun runWindow(const QStringList &simArgs, int ticked0, int ticked1, int cycles, int limitMs,
                 int warmup = 0) {
    BusRun run;
    if (warmup == 0) {
        run.warm.emplace();
        run.warm->merged = run.warm->collisions = 0;
    }
    SimStation station(simArgs);
    if (!station.start())
        return run;
    PlantSim &sim = station.sim;
    Form1 &form = station.open();
    const QStringList ids1{"9", "10", "11", "12"};
    for (int i = 0; i < 4; ++i) {
        form.txtaID1[i]->setText(ids1[i]);
        form.cheAID[i]->setChecked(i < ticked0);
        form.cheAID1[i]->setChecked(i < ticked1);
    }
    Outcomes outcome{};
    QElapsedTimer clock;
    qint64 startedAt = 0;
    QObject::connect(form.scanControl(), &scan::ScanControl::cycleStarted, [&] {
        outcome = {};
        startedAt = clock.nsecsElapsed();
    });
    for (int link = 0; link < 2; ++link) {
        QObject::connect(form.poll(link), &modbus::LinkPoll::slotFinished,
                         [&, link](int slot, const modbus::SlotResult &r) {
                             outcome[std::size_t(link)][std::size_t(slot)] = r.outcome;
                         });
    }
    // A plain event loop: QTest::qWait sleeps 10 ms between its rounds, which would hold the
    // station's timers back and stretch every silence.
    QEventLoop loop;
    QObject::connect(form.scanControl(), &scan::ScanControl::cycleFinished, &loop, [&] {
        run.outcomes.push_back(outcome);
        run.workMs.push_back(double(clock.nsecsElapsed() - startedAt) / 1e6);
        if (int(run.outcomes.size()) == warmup)
            run.warm = sim.counts(); // in the pause: a millisecond of the test's own time
        if (int(run.outcomes.size()) >= cycles)
            loop.quit();
    });
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    clock.start();
    loop.exec();
    run.counts = sim.counts();
    run.wire = sim.stats();
    // The snapshot file is written off the GUI thread: give it a moment to land.
    QDeadlineTimer fileDeadline(3000);
    QFile file(station.csvPath());
    while (!file.exists() && !fileDeadline.hasExpired())
        QTest::qWait(20);
    if (file.open(QIODevice::ReadOnly))
        run.csv = QString::fromLatin1(file.readAll());
    return run;
}

} // namespace

class TestBus : public QObject {
    Q_OBJECT
    // Median cycle work of a healthy line, by adapter, measured once.
    std::map<QStringList, double> healthyMs_;

private slots:
    void everyRequestStandsAloneOnTheWire_data() {
        QTest::addColumn<QStringList>("adapter");
        QTest::addColumn<QStringList>("fault"); // all on slave 60, slot 1 of link 0
        QTest::addColumn<QString>("injected");  // the counts field that counts the fault
        // What slave 60's turn may cost beyond a healthy turn (besides 10 % of a healthy cycle);
        // -1: not checked.
        QTest::addColumn<int>("allowanceMs");
        // Cycles the station may take to learn a slave's late replies: the wire and the other
        // slots are judged after them.
        QTest::addColumn<int>("learning");
        QTest::newRow("late 10 ms past the time-out, 8-byte chunks, 1 ms latency")
            << QStringList{"--chunk-bytes", "8", "--latency-ms", "1"}
            << QStringList{"--late", "every:1", "--late-ms", "510"} << "late" << -1 << 0;
        // The reply starts 30..40 ms past the station's 0.5 s time-out and is handed over on a
        // tick up to 16 ms later: the turn costs the time-out, the late reply and its silence.
        QTest::newRow("late 30-40 ms past the time-out, 16 ms free-running adapter")
            << ftdi << QStringList{"--late", "every:1", "--late-ms", "528-538"} << "late"
            << 500 + 40 + 8 + 16 + 2 << 1;
        // Garbled and misaddressed replies end the wait early: a fraction of a time-out.
        QTest::newRow("wrong parity")
            << ftdi << QStringList{"--wrong-parity", "every:1"} << "wrong_parity" << 250 << 0;
        QTest::newRow("wrong id") << ftdi << QStringList{"--wrong-id", "every:1"} << "wrong_id"
                                  << 250 << 0;
    }

    void everyRequestStandsAloneOnTheWire() {
        QFETCH(QStringList, adapter);
        QFETCH(QStringList, fault);
        QFETCH(QString, injected);
        QFETCH(int, allowanceMs);
        QFETCH(int, learning);
        constexpr int faultSlot = 1;
        const int cycles = cyclesWanted();
        const int limitMs = 10000 + (cycles + learning) * 3000;
        if (allowanceMs >= 0 && !healthyMs_.count(adapter)) {
            const BusRun healthy = runWindow(common + adapter, 4, 4, cycles, limitMs);
            QVERIFY2(int(healthy.workMs.size()) >= cycles, "the healthy line did not cycle");
            healthyMs_[adapter] = healthy.medianWorkMs();
        }
        const BusRun run = runWindow(common + adapter + fault + QStringList{"--fault-slaves", "60"},
                                     4, 4, cycles + learning, limitMs, learning);
        const int done = int(run.outcomes.size());
        QVERIFY2(done >= cycles + learning,
                 qPrintable(QStringLiteral("%1 cycles in %2 s, median work %3 ms")
                                .arg(done)
                                .arg(limitMs / 1000)
                                .arg(run.medianWorkMs())));

        QStringList faults;
        int faultyValid = 0; // a time-out that fires late on a loaded machine may still catch
                             // the late reply: the faulty slot may end either way
        for (int c = learning; c < done; ++c) {
            for (int link = 0; link < 2; ++link) {
                for (int slot = 0; slot < 4; ++slot) {
                    const SlotOutcome o =
                        run.outcomes[std::size_t(c)][std::size_t(link)][std::size_t(slot)];
                    if (link == 0 && slot == faultSlot)
                        faultyValid += o == SlotOutcome::Valid;
                    else if (o != SlotOutcome::Valid)
                        faults << QStringLiteral("cycle %1 link %2 slot %3: outcome %4")
                                      .arg(c + 1)
                                      .arg(link)
                                      .arg(slot)
                                      .arg(int(o));
                }
            }
        }
        const auto &counts = run.counts;
        QVERIFY(counts && run.warm);
        qInfo("%d cycles, median work %.1f ms; %d slot turns wrong; the faulty slot valid %d "
              "times",
              done, run.medianWorkMs(), int(faults.size()), faultyValid);
        qInfo("plant-sim: requests=%llu late=%llu bad=%llu merged=%lld collisions=%lld "
              "silence_min_us=%lld",
              counts->requests, counts->late, counts->bad, counts->merged, counts->collisions,
              counts->silenceMinUs);
        for (const QString &line : run.wire)
            qInfo("%s", qPrintable(line));
        QVERIFY2(faults.isEmpty(), qPrintable(faults.mid(0, 10).join(u'\n')));
        QCOMPARE(counts->merged - run.warm->merged, 0);
        QCOMPARE(counts->collisions - run.warm->collisions, 0);
        QCOMPARE(counts->bad - run.warm->bad, 0u);
        // Without a collision or a merged request every silence held; the shortest is checked
        // when the whole run counts.
        if (learning == 0)
            QVERIFY2(counts->silenceMinUs >= 1750,
                     qPrintable(QString::number(counts->silenceMinUs)));
        QVERIFY(counts->field(injected) >= quint64(done));
        if (allowanceMs >= 0) {
            const double healthy = healthyMs_[adapter];
            const double bound = 1.1 * healthy + allowanceMs;
            qInfo("healthy cycle %.1f ms, bound %.1f ms", healthy, bound);
            QVERIFY2(run.medianWorkMs() <= bound,
                     qPrintable(QStringLiteral("%1 ms").arg(run.medianWorkMs())));
        }
    }

    // A device on link 0 that sends a noise byte every few milliseconds, forever: link 1 is still
    // polled every cycle and the snapshot file written.
    void noisyLinkLeavesTheOtherAcquiring_data() {
        QTest::addColumn<QString>("babbleMs");
        QTest::newRow("a byte every 2-3 ms") << "2-3";
        QTest::newRow("a byte every 40 ms") << "40";
    }

    void noisyLinkLeavesTheOtherAcquiring() {
        QFETCH(QString, babbleMs);
        constexpr int cycles = 3;
        // Slave 2 alone on link 0: its turn ends within a few time-outs whatever the line does.
        const BusRun run = runWindow(common + QStringList{"--babble-ms", babbleMs}, 1, 1, cycles,
                                     1000 + cycles * 6000);
        QVERIFY2(int(run.outcomes.size()) >= cycles,
                 qPrintable(QString::number(run.outcomes.size())));
        for (const Outcomes &o : run.outcomes)
            QCOMPARE(int(o[1][0]), int(SlotOutcome::Valid));
        QVERIFY2(run.csv.contains(QStringLiteral(" 10142")), qPrintable(run.csv)); // slave 9, 1142
    }
};

int main(int argc, char **argv) {
    // A thousand cycles by hand outlast Qt Test's five-minute watchdog.
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number((cyclesWanted() * 6 + 120) * 1000LL));
    QApplication app(argc, argv);
    TestBus test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_bus.moc"
