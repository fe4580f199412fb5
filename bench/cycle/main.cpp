// Cycle work at wire speed: the station's window with all eight slots enabled against the plant
// simulator, first pacing its replies like a 38400 8N1 line (--wire-speed), then on its shared
// wire (--bus), where slaves find frames by silence. The work of a cycle (cycleStarted to
// cycleFinished: both links polled, snapshot written) is set beside what the line itself takes
// and beside libmodbus doing the same reads; on the shared wire also beside pymodbus (Debian's
// python3-pymodbus serial client, run by /usr/bin/python3 or $PYMODBUS_PYTHON).
//
//   bench-cycle [--cycles N] [--turnaround-ms MS] [--bus-args "ARGS"]
#include "linetiming.h"
#include "modbuspeer.h"
#include "plantsim.h"
#include "stationrun.h"
#include "stats.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QProcess>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

// One character of the station's line, and the silence that ends a frame.
constexpr double charMicros = double(modbus::lineTiming(stationLine).character.count()) / 1000.0;
constexpr double frameGapMicros =
    double(modbus::lineTiming(stationLine).interFrame.count()) / 1000.0;

// What one read of `count` registers takes on the line: the 8-character request and the
// 5 + 2 x count character reply, the slave's turnaround and one frame gap.
double transactionBoundMs(int count, int turnaroundMs) {
    return ((8 + 5 + 2 * count) * charMicros + frameGapMicros) / 1000.0 + turnaroundMs;
}

const QStringList ids0{"2", "60", "5", "6"};
const QStringList ids1{"9", "10", "11", "12"};

struct PeerRun {
    std::vector<double> work;
    int failures = 0;
};

// libmodbus reading the eight blocks one after the other, with the station's pause between cycles.
PeerRun runPeer(const PlantSim &sim, int cycles, int count) {
    PeerRun run;
    bench::ModbusPeer peer0(sim.portPattern().arg(5)), peer1(sim.portPattern().arg(10));
    if (!peer0.isOpen() || !peer1.isOpen()) {
        std::fprintf(stderr, "bench-cycle: libmodbus could not open the links\n");
        run.failures = -1;
        return run;
    }
    std::vector<std::uint16_t> values(std::size_t(std::max(count, 1)));
    for (int c = 0; c < cycles; ++c) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        QElapsedTimer clock;
        clock.start();
        for (int link = 0; link < 2; ++link)
            for (const QString &id : link == 0 ? ids0 : ids1)
                if ((link == 0 ? peer0 : peer1).read(id.toInt(), 1139, count, values.data()) < 0)
                    ++run.failures;
        run.work.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    return run;
}

// pymodbus reading the same blocks in a process of its own (bench/cycle/pymodbus-cycle.py).
PeerRun runPymodbus(const PlantSim &sim, int cycles, int count) {
    PeerRun run;
    QProcess py;
    py.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString python = qEnvironmentVariableIsEmpty("PYMODBUS_PYTHON")
                               ? QStringLiteral("/usr/bin/python3")
                               : qEnvironmentVariable("PYMODBUS_PYTHON");
    py.start(python,
             {QStringLiteral(PYMODBUS_CYCLE_SCRIPT), "--port0", sim.portPattern().arg(5), "--port1",
              sim.portPattern().arg(10), "--ids0", ids0.join(','), "--ids1", ids1.join(','),
              "--count", QString::number(count), "--cycles", QString::number(cycles)});
    if (!py.waitForFinished(10000 + cycles * 6000) || py.exitCode() != 0) {
        std::fprintf(stderr, "bench-cycle: pymodbus did not run (python3-pymodbus installed?)\n");
        py.kill();
        run.failures = -1;
        return run;
    }
    for (const QByteArray &line : py.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() == 3 && words[0] == "cycle") {
            run.work.push_back(words[1].toDouble());
            run.failures += words[2].toInt();
        }
    }
    return run;
}

void printFigures(const QString &name, const std::vector<double> &v) {
    bench::printRow(name, {bench::median(v), bench::percentile(v, 0), bench::percentile(v, 90),
                           bench::percentile(v, 100)});
}

void printRun(const bench::StationRun &s, const PeerRun &p, double bound, int turnaroundMs,
              const PeerRun *py = nullptr) {
    std::printf("  %-22s %12s %12s %12s %12s\n", "", "median ms", "min ms", "p90 ms", "max ms");
    printFigures(QStringLiteral("cycle work (station)"), s.work);
    printFigures(QStringLiteral("libmodbus, same reads"), p.work);
    if (py)
        printFigures(QStringLiteral("pymodbus, same reads"), py->work);
    bench::printRow(QStringLiteral("line bound"), {bound, bound, bound, bound});
    std::printf("  line bound = 8 x ((8 + 5 + 2 x %d) x %.1f us + %d ms turnaround + 1.75 ms "
                "gap)\n",
                s.count, charMicros, turnaroundMs);
    printFigures(QStringLiteral("one transaction"), s.transactionMs);
    printFigures(QStringLiteral("cycle outside them"), s.outsideMs);
    const char *gapNames[bench::StationRun::GapKinds] = {
        "  before 1st request", "  between slots (6)", "  link 0 -> link 1", "  last reply -> end"};
    for (int g = 0; g < bench::StationRun::GapKinds; ++g)
        printFigures(QString::fromLatin1(gapNames[g]), s.gapMs[std::size_t(g)]);
}

// The wire's figures of one simulator: merged, collisions, shortest silence, and the median
// silence of each link.
struct WireFigures {
    qint64 merged = -1, collisions = -1, silenceMinUs = -1;
    QString silenceMedianUs;
};

WireFigures wireFigures(PlantSim &sim) {
    WireFigures w;
    if (const auto counts = sim.counts()) {
        w.merged = counts->merged;
        w.collisions = counts->collisions;
        w.silenceMinUs = counts->silenceMinUs;
    }
    QStringList medians;
    for (const QString &line : sim.stats()) {
        const QString key = QStringLiteral("silence_median_us=");
        medians << line.sliced(line.indexOf(key) + key.size()).section(u' ', 0, 0);
    }
    w.silenceMedianUs = medians.join(u'/');
    return w;
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
    parser.addOption({"bus-args",
                      "More plant-sim options for the shared-wire run, e.g. "
                      "\"--chunk-bytes 8 --latency-ms 1\".",
                      "ARGS", ""});
    parser.process(app);
    const int cycles = std::max(1, parser.value("cycles").toInt());
    const int turnaroundMs = parser.value("turnaround-ms").toInt();
    const QStringList common{"--turnaround-ms", QString::number(turnaroundMs), "--slaves1",
                             ids1.join(',')};
    const QStringList busArgs =
        QStringList{"--bus"} + common + parser.value("bus-args").split(u' ', Qt::SkipEmptyParts);

    // Each side gets a simulator of its own, so the wire's counters are its alone.
    PlantSim paced(QStringList{"--wire-speed"} + common),
        pacedPeer(QStringList{"--wire-speed"} + common);
    PlantSim bus(busArgs), busPeer(busArgs), busPy(busArgs);
    for (PlantSim *sim : {&paced, &pacedPeer, &bus, &busPeer, &busPy}) {
        if (!sim->start()) {
            std::fprintf(stderr, "bench-cycle: the plant simulator did not start\n");
            return 1;
        }
    }
    const bench::StationRun s1 = bench::runStation(app, paced.portPattern(), ids1, cycles);
    const bench::StationRun s2 =
        s1.finished ? bench::runStation(app, bus.portPattern(), ids1, cycles) : s1;
    if (!s1.finished || !s2.finished)
        return 1;
    const PeerRun p1 = runPeer(pacedPeer, cycles, s1.count);
    const PeerRun p2 = runPeer(busPeer, cycles, s2.count);
    const PeerRun py = runPymodbus(busPy, cycles, s2.count);
    const WireFigures w = wireFigures(bus), wp = wireFigures(busPeer), wpy = wireFigures(busPy);
    const QString counts1 = paced.stop(), counts2 = bus.stop();

    const double bound = 8 * transactionBoundMs(s1.count, turnaroundMs);
    const double simFloor = 8 * ((8 + 5 + 2 * s1.count) * charMicros / 1000.0 + turnaroundMs);
    std::printf("cycle: 8 slots (link 0: 2,60,5,6; link 1: %s), %d registers each, %d cycles\n",
                qPrintable(ids1.join(',')), s1.count, cycles);
    std::printf("\n1. plant-sim --wire-speed --turnaround-ms %d\n", turnaroundMs);
    printRun(s1, p1, bound, turnaroundMs);
    std::printf("  plant-sim's own pacing alone: %.3f ms per transaction, %.3f ms per cycle\n",
                simFloor / 8, simFloor);
    const double r1 = bench::median(s1.work) / bound;
    std::printf("  ratio work/bound: station %.3f (goal <= 1.05: %s), libmodbus %.3f\n", r1,
                r1 <= 1.05 ? "met" : "MISSED", bench::median(p1.work) / bound);
    std::printf("  slot turns: %d valid, %d other; cycles without 8 valid: %d; libmodbus failed "
                "reads: %d\n",
                s1.valid, s1.other, s1.badCycles, p1.failures);
    std::printf("  plant-sim: %s\n", qPrintable(counts1));

    std::printf("\n2. plant-sim %s (shared wire)\n", qPrintable(busArgs.join(u' ')));
    printRun(s2, p2, bound, turnaroundMs, &py);
    std::printf("  %-22s %12s %12s %12s\n", "", "station", "libmodbus", "pymodbus");
    std::printf("  %-22s %12lld %12lld %12lld\n", "requests merged", w.merged, wp.merged,
                wpy.merged);
    std::printf("  %-22s %12lld %12lld %12lld\n", "collisions", w.collisions, wp.collisions,
                wpy.collisions);
    std::printf("  %-22s %12lld %12lld %12lld\n", "shortest silence us", w.silenceMinUs,
                wp.silenceMinUs, wpy.silenceMinUs);
    std::printf("  %-22s %12s %12s %12s\n", "median silence us, 0/1", qPrintable(w.silenceMedianUs),
                qPrintable(wp.silenceMedianUs), qPrintable(wpy.silenceMedianUs));
    std::printf("  %-22s %12d %12d %12d\n", "failed turns / reads", s2.other, p2.failures,
                py.failures);
    std::printf("  cycles without 8 valid: %d\n", s2.badCycles);
    const double r2 = bench::median(s2.work) / bound;
    const double rpy = py.work.empty() ? 0 : bench::median(py.work) / bound;
    const bool met2 = r2 <= 1.02 && (py.work.empty() || r2 <= rpy);
    std::printf("  ratio work/bound: station %.3f (goal <= 1.02 and no worse than pymodbus: %s), "
                "libmodbus %.3f, pymodbus %.3f\n",
                r2, met2 ? "met" : "MISSED", bench::median(p2.work) / bound, rpy);
    std::printf("  plant-sim: %s\n", qPrintable(counts2));
    const bool wireClean = w.merged == 0 && w.collisions == 0 && w.silenceMinUs >= 1750;
    return s1.badCycles == 0 && p1.failures == 0 && s2.badCycles == 0 && wireClean ? 0 : 1;
}
