#include "faketransport.h"
#include "form1.h"
#include "readinggrid.h"
#include "scancontrol.h"
#include "snapshot.h"
#include "withcrc.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// Register 1142 holds 523 at every slave; the others hold their address.
QByteArray replyTo(const QByteArray &request) {
    const int start = std::uint8_t(request[2]) << 8 | std::uint8_t(request[3]);
    const int count = std::uint8_t(request[5]);
    QByteArray frame{request.left(2)};
    frame += char(2 * count);
    for (int r = 0; r < count; ++r) {
        const int v = start + r == 1142 ? 523 : start + r;
        frame += char(v >> 8), frame += char(v & 0xFF);
    }
    return withCrc(frame);
}

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestScan : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    FakeTransport *port0 = nullptr, *port1 = nullptr;
    std::unique_ptr<Form1> form;
    scan::ScanControl *control = nullptr;

    QString csv() const { return dir.filePath("mwRARE.csv"); }
    void answer(FakeTransport *port) {
        port->onWrite = [port](const QByteArray &r) {
            QTimer::singleShot(5, port, [port, r] { port->feed(replyTo(r)); });
        };
    }
    bool waitCycles(int n, int timeoutMs = 5000) {
        QSignalSpy done(control, &scan::ScanControl::cycleFinished);
        QElapsedTimer clock;
        clock.start();
        while (done.count() < n && clock.elapsed() < timeoutMs)
            done.wait(int(timeoutMs - clock.elapsed()));
        return done.count() >= n;
    }

private slots:
    void init() {
        QVERIFY(dir.isValid());
        QFile::remove(csv());
        port0 = new FakeTransport;
        port1 = new FakeTransport;
        form = std::make_unique<Form1>(std::array<SerialTransport *, 2>{port0, port1},
                                       Form1Options{csv(), 100});
        control = form->scanControl();
        form->Timer2->stop(); // each test starts scanning itself
    }
    void cleanup() { form.reset(); }

    void cycleWritesTheSnapshotLine() {
        answer(port0);
        form->PBScan->click();
        QCOMPARE(form->PBScan->text(), QStringLiteral("Scan OFF"));
        QVERIFY(waitCycles(1));
        const QString line = QStringLiteral("1142, 523,,,,,,,,,");
        QCOMPARE(form->txtPrint->text(), line);
        QCOMPARE(fileBytes(csv()), line.toLatin1() + "\r\n");
        QCOMPARE(port0->writes.size(), 1);
        QVERIFY(port1->writes.isEmpty()); // no slot of link 1 is enabled
        QVERIFY(!form->cmdTest->isEnabled());
        QVERIFY(form->Timer3->isActive());
    }

    void manyCyclesLeaveOneLine() {
        answer(port0);
        answer(port1);
        form->cheAID1[1]->setChecked(true);
        form->PBScan->click();
        QVERIFY(waitCycles(3));
        QCOMPARE(fileBytes(csv()), QByteArray("1142, 523,,,,, 523,,,,\r\n"));
        QCOMPARE(port1->writes.size(), port0->writes.size());
    }

    void manualLinksOnlyTakeTheSnapshot() {
        answer(port0);
        form->cmd_auto->click();
        form->cmd_auto1->click();
        QCOMPARE(form->cmd_auto->text(), QStringLiteral("Manual"));
        form->tabel->setCellText(4, 5, "standing");
        form->PBScan->click();
        QVERIFY(waitCycles(1));
        QVERIFY(port0->writes.isEmpty());
        QCOMPARE(fileBytes(csv()), QByteArray("1142,,,standing,,,,,,,\r\n"));
    }

    void stoppedScanWritesNothingAndDisablesTest() {
        form->cmdAuto->click(); // "Manual" -> "Auto" switches Test off
        QCOMPARE(form->cmdAuto->text(), QStringLiteral("Auto"));
        QVERIFY(!form->cmdTest->isEnabled());
        form->cmdAuto->click(); // and back: Test on again
        QVERIFY(form->cmdTest->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!form->cmdTest->isEnabled(), 600);
        QVERIFY(!QFile::exists(csv()));
        QVERIFY(port0->writes.isEmpty());
    }

    void stopDuringLinkZeroStillPollsLinkOneAndSnaps() {
        form->cheAID1[0]->setChecked(true);
        answer(port1);
        port0->onWrite = [this](const QByteArray &r) {
            form->PBScan->click(); // stop requested while link 0 waits
            QTimer::singleShot(5, port0, [this, r] { port0->feed(replyTo(r)); });
        };
        QSignalSpy started(control, &scan::ScanControl::cycleStarted);
        form->PBScan->click();
        QVERIFY(waitCycles(1));
        QCOMPARE(form->PBScan->text(), QStringLiteral("Scan ON"));
        QCOMPARE(port1->writes.size(), 1);
        QCOMPARE(fileBytes(csv()), QByteArray("1142, 523,,,, 523,,,,,\r\n"));
        QVERIFY(!started.wait(1200)); // no further cycle
        QCOMPARE(started.count(), 1);
    }

    void cycleWhoseSlavesAllFailStillSnaps() {
        form->cheAID[1]->setChecked(true);
        form->PBScan->click();
        QVERIFY(waitCycles(1));
        QCOMPARE(port0->writes.size(), 2);
        QCOMPARE(fileBytes(csv()), QByteArray("1142,,,,,,,,,,\r\n"));
    }

    void oneCycleAtATime() {
        int outstanding = 0, most = 0;
        port0->onWrite = [&](const QByteArray &r) {
            most = std::max(most, ++outstanding);
            // Within the cycle: stop, start again, a stray cycle tick, a Test click.
            form->PBScan->click();
            form->PBScan->click();
            form->Autoscan();
            form->cmdTest1->click();
            QTimer::singleShot(5, port0, [&, r] {
                --outstanding;
                port0->feed(replyTo(r));
            });
        };
        QSignalSpy started(control, &scan::ScanControl::cycleStarted);
        form->PBScan->click();
        QVERIFY(waitCycles(2));
        QCOMPARE(most, 1);
        QCOMPARE(form->PBScan->text(), QStringLiteral("Scan OFF")); // still scanning
        QCOMPARE(started.count(), 2);
    }

    void startTimerStartsScanningOnce() {
        control->startTimerTicked();
        control->startTimerTicked(); // delivered twice
        QCOMPARE(form->PBScan->text(), QStringLiteral("Scan OFF"));
        QVERIFY(!form->Timer2->isActive());
    }

    void cyclesFollowHalfASecondApart() {
        answer(port0);
        QList<qint64> starts, ends;
        QElapsedTimer clock;
        clock.start();
        connect(control, &scan::ScanControl::cycleStarted, this,
                [&] { starts << clock.elapsed(); });
        connect(control, &scan::ScanControl::cycleFinished, this, [&] { ends << clock.elapsed(); });
        form->PBScan->click();
        QVERIFY(waitCycles(4, 8000));
        for (int i = 1; i < ends.size() && i < starts.size(); ++i) {
            const qint64 pause = starts[i] - ends[i - 1];
            QVERIFY2(pause >= 495 && pause < 650, qPrintable(QString::number(pause)));
        }
    }

    void failedWriteShowsAndScanningGoesOn() {
        answer(port0);
        QVERIFY(QDir().mkpath(csv())); // a directory where the file belongs
        form->PBScan->click();
        QVERIFY(waitCycles(1));
        QCOMPARE(form->txtPrint->text(), QStringLiteral("1142, 523,,,,,,,,,"));
        QVERIFY(form->txtPrint->toolTip().contains("mwRARE.csv"));
        QVERIFY(form->txtPrint->styleSheet().contains("red"));
        QVERIFY(form->Timer3->isActive());
        QVERIFY(QDir().rmdir(csv()));
        QVERIFY(waitCycles(1));
        QCOMPARE(fileBytes(csv()), QByteArray("1142, 523,,,,,,,,,\r\n"));
        QVERIFY(form->txtPrint->toolTip().isEmpty());
        QVERIFY(form->txtPrint->styleSheet().isEmpty());
    }

    void snapshotReplacesTheFileWhole() {
        const QString path = dir.filePath("whole.csv");
        QVERIFY(!scan::writeSnapshotFile(path, "first,"));
        QFile before(path);
        QVERIFY(before.open(QIODevice::ReadOnly));
        QVERIFY(!scan::writeSnapshotFile(path, QStringLiteral("a,\u00e9,")));
        // A reader that opened the file before the write still reads the old line whole: the
        // new line went into a file that replaced it, never over the old bytes.
        QCOMPARE(before.readAll(), QByteArray("first,\r\n"));
        QCOMPARE(fileBytes(path), QByteArray("a,\xe9,\r\n")); // one byte per character
    }

    void failedWriteKeepsThePreviousLine() {
        const QString path = dir.filePath("keep.csv");
        QVERIFY(!scan::writeSnapshotFile(path, "first,"));
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
        const bool canStillWrite = QFile(dir.filePath("probe")).open(QIODevice::WriteOnly);
        std::optional<QString> failed;
        if (!canStillWrite)
            failed = scan::writeSnapshotFile(path, "second,");
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (canStillWrite)
            QSKIP("root writes into a read-only folder; the refused write needs an ordinary user");
        QVERIFY(failed.has_value());
        QCOMPARE(fileBytes(path), QByteArray("first,\r\n"));
    }

    void closingTheWindowWhileAPollWaits() {
        port0->onWrite = [this](const QByteArray &) {
            QTimer::singleShot(0, this, [this] {
                form->close();
                form.reset();
            });
        };
        form->PBScan->click();
        QTRY_VERIFY_WITH_TIMEOUT(!form, 2000);
        QTimer later;
        QSignalSpy tick(&later, &QTimer::timeout);
        later.start(300); // past the reply time-out of the interrupted poll
        QVERIFY(tick.wait(2000));
    }
};

QTEST_MAIN(TestScan)
#include "test_scan.moc"
