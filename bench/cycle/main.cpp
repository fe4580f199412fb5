// Cycle work at wire speed: the station's window with all eight slots enabled against the plant
// simulator pacing its replies like a 38400 8N1 line. The work of a cycle (cycleStarted to
// cycleFinished: both links polled, snapshot written) is set beside what the line itself takes.
//
//   bench-cycle [--cycles N] [--turnaround-ms MS]
#include "form1.h"
#include "modbuspeer.h"
#include "plantsim.h"
#include "scancontrol.h"
#include "stats.h"

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

// One character on a 38400 baud line: start bit, 8 data bits, stop bit.
constexpr double charMicros = 10.0 / 38400.0 * 1e6;
// The silence that ends an RTU frame: 3.5 characters, fixed at 1.75 ms above 19200 baud.
constexpr double frameGapMicros = 1750.0;

// What one read of `count` registers takes on the line: the 8-character request and the
// 5 + 2 x count character reply, the slave's turnaround and one frame gap.
double transactionBoundMs(int count, int turnaroundMs) {
    return ((8 + 5 + 2 * count) * charMicros + frameGapMicros) / 1000.0 + turnaroundMs;
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"cycles", "Cycles measured (default 30).", "N", "30"});
    parser.addOption({"turnaround-ms", "Slave turnaround time (default 5).", "MS", "5"});
    parser.process(app);
    const int cycles = std::max(1, parser.value("cycles").toInt());
    const int turnaroundMs = parser.value("turnaround-ms").toInt();

    const QStringList ids1{"9", "10", "11", "12"};
    PlantSim sim({"--wire-speed", "--turnaround-ms", QString::number(turnaroundMs), "--slaves1",
                  ids1.join(',')});
    if (!sim.start()) {
        std::fprintf(stderr, "bench-cycle: the plant simulator did not start\n");
        return 1;
    }
    qputenv("RTU_STATION_PORTS", sim.portPattern().toLocal8Bit());
    QTemporaryDir csvDir;

    // The window's start-up opens both links; the first cycle starts with the start timer, after
    // the event loop is running, so the slots set here are those polled from the first cycle on.
    auto window = std::make_unique<Form1>(std::array<SerialTransport *, 2>{},
                                          Form1Options{csvDir.filePath("mwRARE.csv")});
    Form1 &form = *window;
    if (form.cmd_coneck->text() != QStringLiteral("DisConnect") ||
        form.cmd_coneck1->text() != QStringLiteral("DisConnect")) {
        std::fprintf(stderr, "bench-cycle: the window did not open both links\n");
        return 1;
    }
    for (int i = 0; i < 4; ++i) {
        form.txtaID1[i]->setText(ids1[i]);
        form.cheAID[i]->setChecked(true);
        form.cheAID1[i]->setChecked(true);
    }
    form.show();
    const int count = form.txt_jumlahData->text().toInt();

    QElapsedTimer clock;
    clock.start();
    qint64 startedAt = 0;
    qint64 sentAt = 0, inTransactions = 0;
    std::vector<double> transactionMs, outsideMs;
    // The time between the transactions, by where it falls: before the first request, between
    // two slots of a link, from link 0's last reply to link 1's first request, and from the last
    // reply to the cycle's end (snapshot line and file).
    enum Gap { BeforeFirst, BetweenSlots, BetweenLinks, AfterLast, GapKinds };
    qint64 lastEventAt = 0;
    int lastLink = -1;
    std::array<qint64, GapKinds> gapInCycle{};
    std::array<std::vector<double>, GapKinds> gapMs;
    std::vector<double> work;
    int valid = 0, other = 0;
    std::vector<int> badCycles;
    int validInCycle = 0;
    QObject::connect(form.scanControl(), &scan::ScanControl::cycleStarted, [&] {
        startedAt = clock.nsecsElapsed();
        validInCycle = 0;
        inTransactions = 0;
        lastEventAt = startedAt;
        lastLink = -1;
        gapInCycle.fill(0);
    });
    // Where a cycle's time goes: inside the transactions (request sent to slot finished) and
    // between them.
    for (int link = 0; link < 2; ++link) {
        QObject::connect(form.poll(link), &modbus::LinkPoll::requestSent, [&, link](int) {
            sentAt = clock.nsecsElapsed();
            const Gap kind = lastLink < 0       ? BeforeFirst
                             : lastLink == link ? BetweenSlots
                                                : BetweenLinks;
            gapInCycle[kind] += sentAt - lastEventAt;
        });
        QObject::connect(form.poll(link), &modbus::LinkPoll::slotFinished,
                         [&, link](int, const modbus::SlotResult &r) {
                             if (r.outcome == modbus::SlotOutcome::Valid) {
                                 lastEventAt = clock.nsecsElapsed();
                                 lastLink = link;
                                 const qint64 took = lastEventAt - sentAt;
                                 inTransactions += took;
                                 transactionMs.push_back(double(took) / 1e6);
                                 ++valid, ++validInCycle;
                             } else if (r.outcome != modbus::SlotOutcome::Disabled) {
                                 ++other;
                             }
                         });
    }
    QObject::connect(form.scanControl(), &scan::ScanControl::cycleFinished, [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 took = now - startedAt;
        gapInCycle[AfterLast] = now - lastEventAt;
        for (int g = 0; g < GapKinds; ++g)
            gapMs[std::size_t(g)].push_back(double(gapInCycle[std::size_t(g)]) / 1e6);
        work.push_back(double(took) / 1e6);
        outsideMs.push_back(double(took - inTransactions) / 1e6);
        if (validInCycle != 8)
            badCycles.push_back(int(work.size()));
        if (int(work.size()) == cycles)
            app.quit();
    });
    // Bounded: a cycle of eight time-outs and the pause take under 5 s.
    QTimer::singleShot(5000 + cycles * 5000, &app, [&] {
        std::fprintf(stderr, "bench-cycle: only %zu cycles in time\n", work.size());
        app.exit(1);
    });
    if (app.exec() != 0)
        return 1;
    window.reset(); // closes both ports for the peer

    // The peer on the same links and slaves: libmodbus reading the eight blocks one after the
    // other, with the station's pause between cycles.
    const QStringList ids0{"2", "60", "5", "6"};
    bench::ModbusPeer peer0(sim.portPattern().arg(5)), peer1(sim.portPattern().arg(10));
    if (!peer0.isOpen() || !peer1.isOpen()) {
        std::fprintf(stderr, "bench-cycle: libmodbus could not open the links\n");
        return 1;
    }
    std::vector<double> peerWork;
    int peerFailures = 0;
    std::vector<std::uint16_t> values(std::size_t(std::max(count, 1)));
    for (int c = 0; c < cycles; ++c) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        QElapsedTimer peerClock;
        peerClock.start();
        for (int link = 0; link < 2; ++link)
            for (const QString &id : link == 0 ? ids0 : ids1)
                if ((link == 0 ? peer0 : peer1).read(id.toInt(), 1139, count, values.data()) < 0)
                    ++peerFailures;
        peerWork.push_back(double(peerClock.nsecsElapsed()) / 1e6);
    }
    const QString counts = sim.stop();

    const double bound = 8 * transactionBoundMs(count, turnaroundMs);
    const double simFloor = 8 * ((8 + 5 + 2 * count) * charMicros / 1000.0 + turnaroundMs);
    const double m = bench::median(work);
    std::printf("cycle: 8 slots (link 0: 2,60,5,6; link 1: %s), %d registers each, plant-sim "
                "--wire-speed --turnaround-ms %d, %d cycles\n",
                qPrintable(ids1.join(',')), count, turnaroundMs, cycles);
    std::printf("  %-22s %12s %12s %12s %12s\n", "", "median ms", "min ms", "p90 ms", "max ms");
    bench::printRow(
        QStringLiteral("cycle work (station)"),
        {m, bench::percentile(work, 0), bench::percentile(work, 90), bench::percentile(work, 100)});
    bench::printRow(QStringLiteral("libmodbus, same reads"),
                    {bench::median(peerWork), bench::percentile(peerWork, 0),
                     bench::percentile(peerWork, 90), bench::percentile(peerWork, 100)});
    bench::printRow(QStringLiteral("line bound"), {bound, bound, bound, bound});
    std::printf("  line bound = 8 x ((8 + 5 + 2 x %d) x %.1f us + %d ms turnaround + 1.75 ms "
                "gap)\n",
                count, charMicros, turnaroundMs);
    bench::printRow(QStringLiteral("one transaction"),
                    {bench::median(transactionMs), bench::percentile(transactionMs, 0),
                     bench::percentile(transactionMs, 90), bench::percentile(transactionMs, 100)});
    bench::printRow(QStringLiteral("cycle outside them"),
                    {bench::median(outsideMs), bench::percentile(outsideMs, 0),
                     bench::percentile(outsideMs, 90), bench::percentile(outsideMs, 100)});
    const char *gapNames[GapKinds] = {"  before 1st request", "  between slots (6)",
                                      "  link 0 -> link 1", "  last reply -> end"};
    for (int g = 0; g < GapKinds; ++g) {
        const std::vector<double> &v = gapMs[std::size_t(g)];
        bench::printRow(QString::fromLatin1(gapNames[g]),
                        {bench::median(v), bench::percentile(v, 0), bench::percentile(v, 90),
                         bench::percentile(v, 100)});
    }
    std::printf("  plant-sim's own pacing alone: %.3f ms per transaction, %.3f ms per cycle\n",
                simFloor / 8, simFloor);
    std::printf("  ratio work/bound: station %.3f (goal <= 1.05: %s), libmodbus %.3f\n", m / bound,
                m / bound <= 1.05 ? "met" : "MISSED", bench::median(peerWork) / bound);
    std::printf("  slot turns: %d valid, %d other; cycles without 8 valid: %zu; libmodbus failed "
                "reads: %d\n",
                valid, other, badCycles.size(), peerFailures);
    std::printf("  plant-sim: %s\n", qPrintable(counts));
    return badCycles.empty() && peerFailures == 0 ? 0 : 1;
}
