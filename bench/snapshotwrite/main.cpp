// What the snapshot file's write costs the cycle: the write itself (create, write, fsync,
// rename) on the calling thread, against handing the line to the writer thread, which is all the
// GUI thread now does. Usage: bench-snapshotwrite [FOLDER] [WRITES]
#include "snapshot.h"
#include "snapshotwriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void report(const char *what, std::vector<double> micros) {
    std::sort(micros.begin(), micros.end());
    const auto at = [&](double q) { return micros[std::size_t(q * double(micros.size() - 1))]; };
    std::printf("%-34s n=%zu median %.1f us, p90 %.1f us, max %.1f us\n", what, micros.size(),
                at(0.5), at(0.9), micros.back());
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    const int writes = argc > 2 ? std::atoi(argv[2]) : 40;
    const QString path = QDir(folder).filePath(QStringLiteral("bench-mwRARE.csv"));
    const QString line = QStringLiteral("1142, 523, 524, 525, 526, 527, 528, 529, 530,,");

    std::vector<double> direct, handed, ended;
    for (int i = 0; i < writes; ++i) {
        QElapsedTimer t;
        t.start();
        if (const auto failure = scan::writeSnapshotFile(path, line)) {
            std::fprintf(stderr, "%s\n", qPrintable(*failure));
            return 1;
        }
        direct.push_back(double(t.nsecsElapsed()) / 1000);
    }
    scan::SnapshotWriter writer(path);
    for (int i = 0; i < writes; ++i) {
        QEventLoop wait;
        QObject::connect(&writer, &scan::SnapshotWriter::written, &wait, &QEventLoop::quit);
        QElapsedTimer t;
        t.start();
        writer.write(line);
        handed.push_back(double(t.nsecsElapsed()) / 1000);
        wait.exec();
        ended.push_back(double(t.nsecsElapsed()) / 1000);
    }
    report("write on the calling thread", direct);
    report("GUI thread: hand over to the writer", handed);
    report("writer: hand-over to written()", ended);
    QFile::remove(path);
    return 0;
}
