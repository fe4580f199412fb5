// Bus scan on the shared wire: the station's window (offscreen) against `plant-sim --bus`, slot
// 0 of each link polled; after a few cycles link 0 is scanned for slaves from the commissioning
// window (addresses 1..247, one register each, a short time-out of its own). Printed: the scan's
// time beside the line's floor (every address's request and its whole time-out) and beside
// libmodbus scanning the same addresses with the same time-out on a simulator of its own; the
// slaves found; link 1's request cadence (median time between its requests) before and while
// link 0 is scanned.
//
//   bench-scan [--timeout-ms MS] [--from A] [--to B]
#include "busscan.h"
#include "commissionwindow.h"
#include "form1.h"
#include "linetiming.h"
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
#include <cstdio>
#include <modbus.h>

namespace {

constexpr double charMs = double(modbus::lineTiming(stationLine).character.count()) / 1e6;

struct Run {
    double scanMs = -1;
    QStringList found;
    std::vector<double> cadenceBefore, cadenceWhile; // link 1, ms between requests
};

Run runStation(QApplication &app, const PlantSim &sim, int from, int to, int timeoutMs) {
    Run run;
    qputenv("RTU_STATION_PORTS", sim.portPattern().toLocal8Bit());
    QTemporaryDir csvDir;
    Form1 form({}, Form1Options{csvDir.filePath("mwRARE.csv")});
    form.cheAID1[0]->setChecked(true);
    form.show();
    QElapsedTimer clock;
    clock.start();
    enum class Stage { Before, Scanning, After } stage = Stage::Before;
    qint64 lastRequest = -1;
    QObject::connect(form.poll(1), &modbus::LinkPoll::requestSent, [&](int) {
        const qint64 now = clock.nsecsElapsed();
        if (lastRequest >= 0 && stage != Stage::After)
            (stage == Stage::Before ? run.cadenceBefore : run.cadenceWhile)
                .push_back(double(now - lastRequest) / 1e6);
        lastRequest = now;
    });
    commission::CommissionWindow *window = form.showCommission();
    window->scanFrom->setText(QString::number(from));
    window->scanTo->setText(QString::number(to));
    window->scanTimeout->setText(QString::number(timeoutMs));
    commission::BusScan *scan = window->scan(0);
    qint64 scanStart = 0;
    int cycles = 0;
    QObject::connect(form.scanControl(), &scan::ScanControl::cycleFinished, [&] {
        if (++cycles == 10) {
            stage = Stage::Scanning;
            scanStart = clock.nsecsElapsed();
            window->scanButton->click();
        }
    });
    QObject::connect(scan, &commission::BusScan::finished, [&](bool complete) {
        run.scanMs = complete ? double(clock.nsecsElapsed() - scanStart) / 1e6 : -1;
        stage = Stage::After;
        for (const commission::Found &f : scan->found())
            run.found << QString::number(f.slave);
        app.quit();
    });
    QTimer::singleShot(20000 + (to - from + 1) * (timeoutMs + 100), &app, [&] { app.exit(1); });
    app.exec();
    return run;
}

// libmodbus asking each address for one register with the same time-out.
double runPeer(const PlantSim &sim, int from, int to, int timeoutMs, QStringList &found) {
    modbus_t *ctx =
        modbus_new_rtu(sim.portPattern().arg(5).toLocal8Bit().constData(), 38400, 'N', 8, 1);
    if (!ctx || modbus_connect(ctx) != 0)
        return -1;
    modbus_set_response_timeout(ctx, 0, std::uint32_t(timeoutMs) * 1000);
    QElapsedTimer clock;
    clock.start();
    std::uint16_t value = 0;
    for (int a = from; a <= to; ++a) {
        modbus_set_slave(ctx, a);
        if (modbus_read_registers(ctx, 1139, 1, &value) == 1)
            found << QString::number(a);
    }
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    modbus_close(ctx);
    modbus_free(ctx);
    return ms;
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"timeout-ms", "The scan's time-out per address (default 50).", "MS", "50"});
    parser.addOption({"from", "First address (default 1).", "A", "1"});
    parser.addOption({"to", "Last address (default 247).", "B", "247"});
    parser.process(app);
    const int timeoutMs = parser.value("timeout-ms").toInt();
    const int from = parser.value("from").toInt(), to = parser.value("to").toInt();
    const QStringList args{"--bus", "--slaves0", "2,60,5,6", "--slaves1", "9,10,11,12"};
    PlantSim sim(args), peerSim(args);
    if (!sim.start() || !peerSim.start()) {
        std::fprintf(stderr, "bench-scan: the plant simulator did not start\n");
        return 1;
    }
    const Run run = runStation(app, sim, from, to, timeoutMs);
    QStringList peerFound;
    const double peerMs = runPeer(peerSim, from, to, timeoutMs, peerFound);
    const PlantCounts counts = sim.counts().value_or(PlantCounts{});
    const int addresses = to - from + 1;
    const double floorMs = addresses * (timeoutMs + 8 * charMs);
    const double guardMs = double(modbus::lineTiming(stationLine).settle.count()) / 1e6;
    const double guardedMs = addresses * (timeoutMs + guardMs);
    std::printf("bus scan of link 0, addresses %d..%d, one register each, %d ms time-out, "
                "plant-sim %s\n",
                from, to, timeoutMs, qPrintable(args.join(u' ')));
    std::printf("  %-22s %12s\n", "", "ms");
    bench::printRow(QStringLiteral("station, scan"), {run.scanMs});
    bench::printRow(QStringLiteral("libmodbus, same reads"), {peerMs});
    bench::printRow(QStringLiteral("line floor"), {floorMs});
    bench::printRow(QStringLiteral("station's floor"), {guardedMs});
    std::printf("  line floor = %d x (8 characters + %d ms); station's floor adds the guard after "
                "each time-out (%.2f ms)\n",
                addresses, timeoutMs, guardMs);
    std::printf("  found: station %s; libmodbus %s\n", qPrintable(run.found.join(',')),
                qPrintable(peerFound.join(',')));
    std::printf("  link 1 cadence, median ms between requests: before %.3f (%zu), while "
                "scanning %.3f (%zu)\n",
                bench::median(run.cadenceBefore), run.cadenceBefore.size(),
                bench::median(run.cadenceWhile), run.cadenceWhile.size());
    std::printf("  wire: merged %lld, collisions %lld, shortest silence %lld us\n", counts.merged,
                counts.collisions, counts.silenceMinUs);
    std::printf("  goal: %d addresses in <= 15 s: %s\n", addresses,
                run.scanMs >= 0 && run.scanMs <= 15000 ? "met" : "MISSED");
    sim.stop();
    peerSim.stop();
    return run.scanMs >= 0 ? 0 : 1;
}
