// The station against real pseudo-terminals: the request bytes on the line, and an independent
// libmodbus slave (the plant simulator) answering them.
#include "diagnostics.h"
#include "form1.h"
#include "portkeeper.h"
#include "qserialtransport.h"
#include "readinggrid.h"
#include "scancontrol.h"
#include "simstation.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

int openDescriptors() {
    return int(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot).size());
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool waitFor(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

} // namespace

class TestLink : public QObject {
    Q_OBJECT
private slots:
    void requestGoesOnTheLineAsItShould() {
        // A socat pair: the station on one end, the test reading raw bytes on the other.
        QTemporaryDir dir;
        QProcess socat;
        socat.start("socat", {"-d", "pty,raw,echo=0,link=" + dir.filePath("COM5"),
                              "pty,raw,echo=0,link=" + dir.filePath("peer")});
        QVERIFY(socat.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("peer")), 5000);
        qputenv("RTU_STATION_PORTS", dir.filePath("COM%1").toLocal8Bit());
        const int peer = ::open(dir.filePath("peer").toLocal8Bit(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(peer >= 0);
        {
            Form1 form({}, {dir.filePath("mwRARE.csv")});
            QCOMPARE(form.cmd_coneck->text(), QStringLiteral("DisConnect"));
            QCOMPARE(form.cmd_coneck1->text(), QStringLiteral("Connect")); // no port 10
            form.poll(0)->start();
            QByteArray seen;
            QVERIFY(waitFor(
                [&] {
                    char buf[64];
                    const ssize_t n = ::read(peer, buf, sizeof buf);
                    if (n > 0)
                        seen.append(buf, n);
                    return seen.size() >= 8;
                },
                3000));
            QCOMPARE(seen, QByteArray::fromHex("02030473000CB517"));
            QSignalSpy done(form.poll(0), &modbus::LinkPoll::finished);
            QVERIFY(done.wait(3000));
        }
        ::close(peer);
        socat.terminate();
        socat.waitForFinished(5000);
    }

    void valuesFromALibmodbusSlaveLandInRowsOneToTwelve() {
        SimStation station({"--static"});
        QVERIFY(station.start());
        Form1 &form = station.open();
        QCOMPARE(station.connectTexts(), SimStation::bothOpen);
        form.cheAID1[1]->setChecked(true); // slave 10 on link 1
        QSignalSpy cycle(form.scanControl(), &scan::ScanControl::cycleFinished);
        form.PBScan->click();
        QVERIFY(cycle.wait(5000));
        for (int r = 1; r <= 12; ++r) {
            QCOMPARE(*form.tabel->cellText(r, 3), u' ' + QString::number(2000 + 1138 + r));
            QCOMPARE(*form.tabel->cellText(r, 8), u' ' + QString::number(10000 + 1138 + r));
        }
        QCOMPARE(form.txtPrint->text(), QStringLiteral("1142, 3142,,,,, 11142,,,,"));
        QVERIFY(station.sim.stop().contains("requests=2"));
    }

    void pulledAdapterComesBackWithoutAClick() {
        SimStation station({"--static"});
        QVERIFY(station.start());
        PlantSim &sim = station.sim;
        Form1 &form = station.open();
        form.Timer2->stop();
        form.PBScan->click();
        QSignalSpy cycles(form.scanControl(), &scan::ScanControl::cycleFinished);
        QVERIFY(cycles.wait(5000));
        // Counted just after a snapshot write has ended, when the writer holds no file open.
        QSignalSpy written(form.snapshotWriter(), &scan::SnapshotWriter::written);
        QVERIFY(written.wait(5000));
        const int fds = openDescriptors();

        for (int round = 0; round < 3; ++round) {
            QVERIFY(sim.command("drop 0"));
            QTRY_COMPARE_WITH_TIMEOUT(form.cmd_coneck->text(), QStringLiteral("Connect"), 3000);
            QVERIFY(form.portKeeper(0)->isLost());
            // While the device is gone the station idles: no error storm, no busy loop.
            const double cpuBefore = cpuSeconds();
            QElapsedTimer wall;
            wall.start();
            QTest::qWait(1000);
            const double share = (cpuSeconds() - cpuBefore) / (wall.elapsed() / 1000.0);
            QVERIFY2(share < 0.2, qPrintable(QString::number(share)));

            const auto validBefore = form.diagnostics()->stats(0, 0).valid;
            QVERIFY(sim.command("restore 0"));
            QTRY_COMPARE_WITH_TIMEOUT(form.cmd_coneck->text(), QStringLiteral("DisConnect"), 2000);
            QTRY_VERIFY_WITH_TIMEOUT(form.diagnostics()->stats(0, 0).valid > validBefore, 3000);
        }
        written.clear();
        QVERIFY(written.wait(5000));
        QVERIFY(openDescriptors() <= fds);

        // The operator's own disconnect holds.
        form.cmd_coneck->click();
        QCOMPARE(form.cmd_coneck->text(), QStringLiteral("Connect"));
        QVERIFY(cycles.wait(3000));
        QVERIFY(cycles.wait(3000));
        QCOMPARE(form.cmd_coneck->text(), QStringLiteral("Connect"));
    }

    // Ports that cannot be opened at start-up are taken as soon as they can be, with no click:
    // their devices appear late, or another station that holds them ends.
    void portsOpenWhenTheyCan_data() {
        QTest::addColumn<bool>("heldByAnother");
        QTest::newRow("devices appear late") << false;
        QTest::newRow("the other station ends") << true;
    }
    void portsOpenWhenTheyCan() {
        QFETCH(bool, heldByAnother);
        // The other station, when there is one, holds the simulator's ports.
        SimStation station({"--static"});
        station.pointStation();
        if (heldByAnother) {
            QVERIFY(station.start());
            station.open({station.dir.filePath("a.csv")}).Timer2->stop();
            QCOMPARE(station.form->cmd_coneck->text(), QStringLiteral("DisConnect"));
        }
        QTemporaryDir dir;
        Form1 form({}, {.csvPath = dir.filePath("mwRARE.csv"), .portRetryUnitMs = 100});
        form.Timer2->stop();
        for (QPushButton *button : {form.cmd_coneck, form.cmd_coneck1}) {
            QCOMPARE(button->text(), QStringLiteral("Connect"));
            QVERIFY2(
                button->toolTip().contains(heldByAnother ? "in use by process" : "No such file"),
                qPrintable(button->toolTip()));
            QVERIFY(button->toolTip().contains("next try"));
        }
        QVERIFY(form.portKeeper(0)->isRetrying() && form.portKeeper(1)->isRetrying());
        if (heldByAnother)
            station.form.reset();
        else
            QVERIFY(station.start());
        QTRY_COMPARE_WITH_TIMEOUT(form.cmd_coneck->text(), QStringLiteral("DisConnect"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(form.cmd_coneck1->text(), QStringLiteral("DisConnect"), 5000);
        QVERIFY(!form.portKeeper(0)->isRetrying());
        form.PBScan->click();
        QTRY_VERIFY_WITH_TIMEOUT(form.diagnostics()->stats(0, 0).valid > 0, 5000);
    }
};

QTEST_MAIN(TestLink)
#include "test_link.moc"
