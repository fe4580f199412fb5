// Transaction overhead: one 12-register read of slave 2 over a pseudo-terminal, the station's
// poll (request written to cells written) against libmodbus's modbus_read_registers, both on
// the same plant simulator link in alternating rounds. The station keeps the line quiet before
// each request (its previous request's time on the wire plus 3.5 characters; the pty answers at
// once); libmodbus does not, so it is given the same pause before each read: both sides then
// start every transaction from an idle process and simulator. --peer-silence-us 0 reads back to
// back.
//
//   bench-transaction [--transactions K] [--rounds R] [--peer-silence-us US]
#include "linetiming.h"
#include "modbuspeer.h"
#include "plantsim.h"
#include "slotbench.h"
#include "stats.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int slave = 2;
constexpr int firstRegister = 1139;
constexpr int registerCount = 12;

// With --static, register a of slave s holds (s * 1000 + a) & 0xFFFF.
std::uint16_t staticValue(int r) {
    return std::uint16_t((slave * 1000 + firstRegister + r) & 0xFFFF);
}

struct PeerResult {
    bool opened = false;
    std::vector<double> ms;
    int failures = 0;
};

// The peer: libmodbus's modbus_read_registers, one timed call per transaction.
PeerResult runLibmodbus(const QString &device, int transactions, int silenceMicros) {
    PeerResult result;
    bench::ModbusPeer peer(device);
    result.opened = peer.isOpen();
    std::uint16_t regs[registerCount];
    for (int i = 0; result.opened && i < transactions; ++i) {
        if (silenceMicros > 0)
            usleep(useconds_t(silenceMicros));
        const double ms = peer.read(slave, firstRegister, registerCount, regs);
        bool right = ms >= 0;
        for (int r = 0; right && r < registerCount; ++r)
            right = regs[r] == staticValue(r);
        if (right)
            result.ms.push_back(ms);
        else
            ++result.failures;
    }
    return result;
}

// CPU time of this process so far, user and system, in microseconds.
double cpuMicros() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"transactions", "Reads per side (default 2000).", "K", "2000"});
    parser.addOption(
        {"rounds", "Alternating rounds the reads are split into (default 10).", "R", "10"});
    const auto line = modbus::lineTiming(stationLine);
    const auto stationSilence = line.frame(8) + line.interFrame;
    parser.addOption({"peer-silence-us",
                      "Pause before each libmodbus read (default: the station's, 3833).", "US",
                      QString::number(stationSilence.count() / 1000)});
    parser.process(app);
    const int peerSilence = parser.value("peer-silence-us").toInt();
    const int transactions = parser.value("transactions").toInt();
    const int rounds = std::max(1, parser.value("rounds").toInt());
    if (transactions < rounds) {
        std::fprintf(stderr, "bench-transaction: need at least one read per round\n");
        return 2;
    }

    PlantSim sim({QStringLiteral("--static")});
    if (!sim.start()) {
        std::fprintf(stderr, "bench-transaction: the plant simulator did not start\n");
        return 1;
    }
    sim.pointStation();
    const QString device = sim.portPattern().arg(5);

    bench::SlotBenchSetup setup;
    setup.checkValues = [](const std::vector<std::uint16_t> &values) {
        for (int r = 0; r < registerCount; ++r)
            if (r >= int(values.size()) || values[std::size_t(r)] != staticValue(r))
                return false;
        return true;
    };
    std::vector<double> station, stationOwn, peer;
    int stationFailures = 0, peerFailures = 0;
    double stationCpu = 0, peerCpu = 0;
    for (int round = 0; round < rounds; ++round) {
        const int share = transactions / rounds + (round < transactions % rounds ? 1 : 0);
        setup.transactions = share;
        const double c0 = cpuMicros();
        const bench::SlotBenchResult s = bench::runSlotBench(setup);
        const double c1 = cpuMicros();
        if (!s.opened || s.timedOut) {
            std::fprintf(stderr, "bench-transaction: station side %s\n",
                         s.opened ? "overran its bound" : "could not open the port");
            return 1;
        }
        station.insert(station.end(), s.turnMs.begin(), s.turnMs.end());
        stationOwn.insert(stationOwn.end(), s.stationMs.begin(), s.stationMs.end());
        stationFailures += s.unexpected;

        const PeerResult p = runLibmodbus(device, share, peerSilence);
        const double c2 = cpuMicros();
        stationCpu += c1 - c0;
        peerCpu += c2 - c1;
        if (!p.opened) {
            std::fprintf(stderr, "bench-transaction: libmodbus could not open %s\n",
                         qPrintable(device));
            return 1;
        }
        peer.insert(peer.end(), p.ms.begin(), p.ms.end());
        peerFailures += p.failures;
    }
    const QString counts = sim.stop();

    std::printf("transaction: slave %d, holding registers %d..%d, %d reads per side in %d "
                "alternating rounds, plant-sim --static over a pty, libmodbus pausing %d us "
                "before each read\n",
                slave, firstRegister, firstRegister + registerCount - 1, transactions, rounds,
                peerSilence);
    std::printf("  %-22s %12s %12s %12s %12s\n", "", "median ms", "p90 ms", "min ms", "failed");
    bench::printRow(QStringLiteral("station (poll)"),
                    {bench::median(station), bench::percentile(station, 90),
                     bench::percentile(station, 0), double(stationFailures)});
    bench::printRow(QStringLiteral("  its responseMicros"),
                    {bench::median(stationOwn), bench::percentile(stationOwn, 90),
                     bench::percentile(stationOwn, 0), double(stationFailures)});
    bench::printRow(QStringLiteral("libmodbus"),
                    {bench::median(peer), bench::percentile(peer, 90), bench::percentile(peer, 0),
                     double(peerFailures)});
    const double ratio = bench::median(station) / bench::median(peer);
    const double ratio90 = bench::percentile(station, 90) / bench::percentile(peer, 90);
    std::printf("  ratio station/libmodbus: median %.2f, p90 %.2f (goal <= 1.0: %s)\n", ratio,
                ratio90, ratio <= 1.0 ? "met" : "MISSED");
    std::printf("  ratio with the poll's own clock (started before the write, as libmodbus's): "
                "median %.2f, p90 %.2f\n",
                bench::median(stationOwn) / bench::median(peer),
                bench::percentile(stationOwn, 90) / bench::percentile(peer, 90));
    std::printf("  CPU time per read (user + system): station %.1f us, libmodbus %.1f us\n",
                stationCpu / transactions, peerCpu / transactions);
    std::printf("  station %.3f ms vs libmodbus %.3f ms, ratio %.2f\n", bench::median(station),
                bench::median(peer), ratio);
    std::printf("  plant-sim: %s\n", qPrintable(counts));
    return stationFailures + peerFailures == 0 ? 0 : 1;
}
