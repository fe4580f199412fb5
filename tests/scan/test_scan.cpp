#include "asnobody.h"
#include "busscan.h"
#include "commissionwindow.h"
#include "fakeclock.h"
#include "faketransport.h"
#include "form1.h"
#include "frames.h"
#include "readinggrid.h"
#include "scancontrol.h"
#include "snapshot.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMutex>
#include <QProcess>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Register 1142 holds 523 at every slave; the others hold their address.
std::uint16_t served(int, int address) {
    return std::uint16_t(address == 1142 ? 523 : address);
}

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Runs the write in a forked child that `prepare` sets up (limits, another user): "ok", or why
// it failed.
QString writeInChild(const std::function<void()> &prepare, const QString &path,
                     const QString &line) {
    int fds[2];
    if (::pipe(fds) != 0)
        return QStringLiteral("no pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        prepare();
        const auto why = scan::writeSnapshotFile(path, line);
        const QByteArray answer = why ? why->toUtf8() : QByteArray("ok");
        [[maybe_unused]] const ssize_t n = ::write(fds[1], answer.constData(), answer.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray answer;
    char buffer[256];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? QString::fromUtf8(answer)
                                                         : QStringLiteral("child died");
}

void limitFileSize(rlim_t bytes) {
    ::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead of killing the process
    const rlimit limit{bytes, bytes};
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

void becomeNobody() {
    if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
        ::_exit(3);
}

// Fills the file system that holds `folder` up to the last byte.
bool fill(const QString &folder) {
    QFile filler(folder + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray block(512, 'x');
    while (filler.write(block) > 0) {
    }
    return true;
}

// A small tmpfs mounted over a folder, for as long as the object lives; root only.
struct SmallTmpfs {
    QString path;
    bool mounted = false;
    explicit SmallTmpfs(const QString &where)
        : path(where) {
        mounted = QDir().mkpath(path) && ::getuid() == 0 &&
                  ::mount("tmpfs", QFile::encodeName(path), "tmpfs", 0, "size=16k") == 0;
    }
    ~SmallTmpfs() {
        if (mounted)
            ::umount2(QFile::encodeName(path), MNT_DETACH);
    }
};

QStringList filesIn(const QString &folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TestScan : public QObject {
    Q_OBJECT

    static constexpr qint64 ms = FakeClock::ms;
    QTemporaryDir dir;
    std::unique_ptr<FakeClock> clock;
    FakeTransport *port0 = nullptr, *port1 = nullptr;
    std::unique_ptr<Form1> form;
    scan::ScanControl *control = nullptr;

    QString csv() const { return dir.filePath("mwRARE.csv"); }
    void answer(FakeTransport *port) {
        port->onWrite = [this, port](const QByteArray &r) {
            clock->after(5 * ms, [port, r] { port->feed(replyTo(r, served)); });
        };
    }
    // Runs the fake clock until n more cycles have ended.
    bool waitCycles(int n) {
        QSignalSpy done(control, &scan::ScanControl::cycleFinished);
        return clock->runUntil([&] { return done.count() >= n; });
    }
    // A window on the fake clock, scanning when the test says so.
    void makeForm(const QString &path) {
        form.reset();
        port0 = new FakeTransport;
        port1 = new FakeTransport;
        port0->clock = port1->clock = clock.get();
        form = std::make_unique<Form1>(
            std::array<SerialTransport *, 2>{port0, port1},
            Form1Options{.csvPath = path, .replyTimeoutMs = 100, .clock = clock.get()});
        control = form->scanControl();
        form->Timer2->stop();
    }

private slots:
    void init() {
        QVERIFY(dir.isValid());
        QFile::remove(csv());
        clock = std::make_unique<FakeClock>();
        makeForm(csv());
    }
    void cleanup() {
        form.reset();
        clock.reset();
    }

    void cycleWritesTheSnapshotLine() {
        answer(port0);
        form->PBScan->click();
        QCOMPARE(form->PBScan->text(), QStringLiteral("Scan OFF"));
        QVERIFY(waitCycles(1));
        const QString line = QStringLiteral("1142, 523,,,,,,,,,");
        QCOMPARE(form->txtPrint->text(), line);
        QTRY_COMPARE(fileBytes(csv()), line.toLatin1() + "\r\n");
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
        QTRY_COMPARE(fileBytes(csv()), QByteArray("1142, 523,,,,, 523,,,,\r\n"));
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
        QTRY_COMPARE(fileBytes(csv()), QByteArray("1142,,,standing,,,,,,,\r\n"));
    }

    void stoppedScanWritesNothingAndDisablesTest() {
        form->cmdAuto->click(); // "Manual" -> "Auto" switches Test off
        QCOMPARE(form->cmdAuto->text(), QStringLiteral("Auto"));
        QVERIFY(!form->cmdTest->isEnabled());
        form->cmdAuto->click(); // and back: Test on again
        QVERIFY(form->cmdTest->isEnabled());
        QVERIFY(clock->runUntil([this] { return !form->cmdTest->isEnabled(); }, 500 * ms));
        QVERIFY(!QFile::exists(csv()));
        QVERIFY(port0->writes.isEmpty());
    }

    void stopDuringLinkZeroStillPollsLinkOneAndSnaps() {
        form->cheAID1[0]->setChecked(true);
        answer(port1);
        port0->onWrite = [this](const QByteArray &r) {
            form->PBScan->click(); // stop requested while link 0 waits
            clock->after(5 * ms, [this, r] { port0->feed(replyTo(r, served)); });
        };
        QSignalSpy started(control, &scan::ScanControl::cycleStarted);
        form->PBScan->click();
        QVERIFY(waitCycles(1));
        QCOMPARE(form->PBScan->text(), QStringLiteral("Scan ON"));
        QCOMPARE(port1->writes.size(), 1);
        QTRY_COMPARE(fileBytes(csv()), QByteArray("1142, 523,,,, 523,,,,,\r\n"));
        QVERIFY(!clock->runUntil([&] { return started.count() > 1; }, 1200 * ms)); // no further
        QCOMPARE(started.count(), 1);
    }

    // A bus scan of link 0 from the commissioning window: link 0's slots wait, link 1 keeps its
    // cadence, the snapshot is still written, and link 0's slots resume after.
    void busScanLeavesTheOtherLinkAlone() {
        form->cheAID1[0]->setChecked(true);
        port0->onWrite = [this](const QByteArray &r) { // slaves 1 to 5 are there
            if (std::uint8_t(r[0]) <= 5)
                clock->after(5 * ms, [this, r] { port0->feed(replyTo(r, served)); });
        };
        answer(port1);
        form->PBScan->click();
        QVERIFY(waitCycles(3));
        const auto gaps = [this](qsizetype from) {
            QList<qint64> g;
            for (auto i = from + 1; i < qsizetype(port1->writeNanos.size()); ++i)
                g << port1->writeNanos[std::size_t(i)] - port1->writeNanos[std::size_t(i - 1)];
            return g;
        };
        const QList<qint64> before = gaps(0);
        const qsizetype link0Before = port0->writes.size(), link1Before = port1->writes.size();
        commission::CommissionWindow *window = form->showCommission();
        window->scanTo->setText(QStringLiteral("40"));
        commission::BusScan *scan = window->scan(0);
        QSignalSpy done(scan, &commission::BusScan::finished);
        QSignalSpy cycles(control, &scan::ScanControl::cycleFinished);
        window->scanButton->click();
        QVERIFY(scan->isRunning());
        QVERIFY(clock->runUntil([&] { return !done.isEmpty(); }, 10'000 * ms));
        QCOMPARE(scan->found().size(), std::size_t(5));
        QCOMPARE(port0->writes.size() - link0Before, 40);
        for (auto i = link0Before; i < port0->writes.size(); ++i)
            QCOMPARE(std::uint8_t(port0->writes[i][5]), 1); // one register: no slot asked
        QVERIFY(cycles.size() >= 2);
        for (qint64 gap : gaps(link1Before - 1)) // link 0's turn now costs nothing
            QVERIFY(gap >= 500 * ms && gap <= before.first());
        QVERIFY(std::all_of(before.begin(), before.end(),
                            [&](qint64 g) { return g == before.first(); }));
        QVERIFY(waitCycles(1));
        QCOMPARE(std::uint8_t(port0->writes.last()[5]), 12); // slot 0 asks again

        // Slave 3 goes into the first free slot, and is the one a one-off read asks.
        window->foundTable->selectRow(2);
        window->slotButton->click();
        QCOMPARE(form->txtaID[1]->text(), QStringLiteral("3"));
        QVERIFY(form->cheAID[1]->isChecked());
        QCOMPARE(window->readSlave->text(), QStringLiteral("3"));
        const qsizetype sent = port0->writes.size();
        window->readCount->setText(QStringLiteral("126"));
        window->readButton->click();
        QVERIFY(window->message->text().contains(QStringLiteral("Count 126 is out of range")));
        QCOMPARE(port0->writes.size(), sent); // nothing on the wire
        window->readStart->setText(QStringLiteral("1142"));
        window->readCount->setText(QStringLiteral("2"));
        window->readButton->click();
        QVERIFY(clock->runUntil([&] { return window->decodedTable->rowCount() == 2; }, 2000 * ms));
        QCOMPARE(window->decodedTable->item(0, 1)->text(), QStringLiteral("523"));
        QCOMPARE(window->decodedTable->item(0, 4)->text(), QString::number(523 << 16 | 1143));
        QCOMPARE(form->tabel->cellText(4, 3).value_or(QString()),
                 QStringLiteral(" 523")); // the slot's own value
        QCOMPARE(form->tabel->cellText(1, 3).value_or(QString()),
                 QStringLiteral(" 1139")); // not the read's
    }

    void cycleWhoseSlavesAllFailStillSnaps() {
        form->cheAID[1]->setChecked(true);
        form->PBScan->click();
        QVERIFY(waitCycles(1));
        QCOMPARE(port0->writes.size(), 2);
        QTRY_COMPARE(fileBytes(csv()), QByteArray("1142,,,,,,,,,,\r\n"));
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
            clock->after(5 * ms, [&, r] {
                --outstanding;
                port0->feed(replyTo(r, served));
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
        connect(control, &scan::ScanControl::cycleStarted, this, [&] { starts << clock->now(); });
        connect(control, &scan::ScanControl::cycleFinished, this, [&] { ends << clock->now(); });
        form->PBScan->click();
        QVERIFY(waitCycles(4));
        for (int i = 1; i < ends.size() && i < starts.size(); ++i)
            QCOMPARE(starts[i] - ends[i - 1], 500 * ms);
    }

    void failedWriteShowsAndScanningGoesOn() {
        answer(port0);
        QVERIFY(QDir().mkpath(csv())); // a directory where the file belongs
        form->PBScan->click();
        QVERIFY(waitCycles(1));
        QCOMPARE(form->txtPrint->text(), QStringLiteral("1142, 523,,,,,,,,,"));
        QTRY_VERIFY(form->txtPrint->toolTip().contains("mwRARE.csv"));
        QVERIFY(form->txtPrint->styleSheet().contains("red"));
        QVERIFY(form->Timer3->isActive());
        QVERIFY(QDir().rmdir(csv()));
        QVERIFY(waitCycles(1));
        QTRY_COMPARE(fileBytes(csv()), QByteArray("1142, 523,,,,,,,,,\r\n"));
        QTRY_VERIFY(form->txtPrint->toolTip().isEmpty());
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

    void failedWriteKeepsThePreviousLine_data() {
        QTest::addColumn<bool>("fullDisk");
        QTest::newRow("file size limit") << false;
        QTest::newRow("full tmpfs") << true;
    }
    void failedWriteKeepsThePreviousLine() {
        QFETCH(bool, fullDisk);
        SmallTmpfs disk(dir.filePath("disk"));
        if (fullDisk && !disk.mounted)
            QSKIP("mounting a tmpfs needs root");
        const QString path = disk.path + QStringLiteral("/mwRARE.csv");
        const QString line = QStringLiteral("1142, 523,,,,,,,,,");
        QVERIFY(!scan::writeSnapshotFile(path, QStringLiteral("old,")));
        if (fullDisk)
            QVERIFY(fill(disk.path));
        const QString why = fullDisk ? scan::writeSnapshotFile(path, line).value_or("ok")
                                     : writeInChild([] { limitFileSize(8); }, path, line);
        QVERIFY2(why.contains(fullDisk ? "No space" : "too large"), qPrintable(why));
        QCOMPARE(fileBytes(path), QByteArray("old,\r\n"));
        QCOMPARE(filesIn(disk.path).size(), fullDisk ? 2 : 1); // no temporary file left
        QFile::remove(disk.path + QStringLiteral("/filler"));
        QVERIFY(!scan::writeSnapshotFile(path, QStringLiteral("a,\u00e9,")));
        QCOMPARE(fileBytes(path), QByteArray("a,\xe9,\r\n")); // one byte per character
    }

    void fullDiskShowsAndClearsWhileScanning() {
        SmallTmpfs disk(dir.filePath("disk"));
        if (!disk.mounted)
            QSKIP("mounting a tmpfs needs root");
        const QString path = disk.path + QStringLiteral("/mwRARE.csv");
        makeForm(path);
        answer(port0);
        form->PBScan->click();
        QVERIFY(waitCycles(1));
        QTRY_COMPARE(fileBytes(path), QByteArray("1142, 523,,,,,,,,,\r\n"));
        QVERIFY(fill(disk.path));
        form->tabel->setCellText(4, 5, "new"); // a cell no poll refreshes
        QVERIFY(waitCycles(2));
        QTRY_VERIFY(form->txtPrint->styleSheet().contains("red"));
        QCOMPARE(fileBytes(path), QByteArray("1142, 523,,,,,,,,,\r\n"));
        QVERIFY2(form->txtPrint->toolTip().contains("No space"),
                 qPrintable(form->txtPrint->toolTip()));
        QTRY_COMPARE(filesIn(disk.path).size(), 2); // no temporary file left, once a write ends
        QVERIFY(QFile::remove(disk.path + QStringLiteral("/filler")));
        QVERIFY(waitCycles(2));
        QTRY_COMPARE(fileBytes(path), QByteArray("1142, 523,,new,,,,,,,\r\n"));
        QTRY_VERIFY(form->txtPrint->styleSheet().isEmpty());
        QVERIFY(form->txtPrint->toolTip().isEmpty());
    }

    // Installed where the operator may not make files but may write the file itself.
    void folderRefusingNewFilesGetsTheLineInPlace_data() {
        QTest::addColumn<bool>("fileWritable");
        QTest::newRow("writable file") << true;
        QTest::newRow("read-only file") << false;
    }
    void folderRefusingNewFilesGetsTheLineInPlace() {
        QFETCH(bool, fileWritable);
        const QString folder = dir.filePath("install");
        const QString path = folder + QStringLiteral("/mwRARE.csv");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(!scan::writeSnapshotFile(path, QStringLiteral("old,")));
        using P = QFile::Permission;
        QFile::setPermissions(path, fileWritable ? P::ReadOwner | P::WriteOwner | P::ReadGroup |
                                                       P::WriteGroup | P::ReadOther | P::WriteOther
                                                 : P::ReadOwner | P::ReadGroup | P::ReadOther);
        // Root may write anywhere: as root the write runs as "nobody".
        QFile::setPermissions(dir.path(), QFile::Permissions(0x7755));
        QFile::setPermissions(folder, QFile::Permissions(0x5555));
        const QString why = writeInChild(becomeNobody, path, QStringLiteral("new,"));
        QFile::setPermissions(folder, QFile::Permissions(0x7755));
        QFile::setPermissions(dir.path(), QFile::Permissions(0x7700));
        QCOMPARE(why == QStringLiteral("ok"), fileWritable);
        QCOMPARE(fileBytes(path), fileWritable ? QByteArray("new,\r\n") : QByteArray("old,\r\n"));
        QCOMPARE(filesIn(folder), QStringList{"mwRARE.csv"});
    }

    // Replaced through a link, in the target's folder; a read-only file is never replaced.
    void replacesOnlyWhatItMay_data() {
        QTest::addColumn<bool>("link");
        QTest::addColumn<int>("mode"); // the file's, kept whatever becomes of the write
        QTest::addColumn<QString>("failure");
        QTest::newRow("link to a file elsewhere") << true << 0664 << QString();
        QTest::newRow("file for the owner's group alone") << false << 0640 << QString();
        QTest::newRow("read-only file") << false << 0444 << "read-only (mode 0444)";
    }
    void replacesOnlyWhatItMay() {
        QFETCH(bool, link);
        QFETCH(int, mode);
        QFETCH(QString, failure);
        const auto modeOf = [](const QString &path) {
            struct stat st {};
            return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777)
                                                                         : -1;
        };
        const QString elsewhere = dir.filePath("elsewhere");
        QVERIFY(QDir().mkpath(elsewhere));
        const QString file = link ? elsewhere + QStringLiteral("/read-by-others.csv") : csv();
        const auto made = scan::writeSnapshotFile(file, QStringLiteral("old,"));
        QVERIFY2(!made, qPrintable(made.value_or("")));
        if (link)
            QVERIFY(QFile::link(QStringLiteral("elsewhere/read-by-others.csv"), csv()));
        QCOMPARE(::chmod(QFile::encodeName(file).constData(), mode_t(mode)), 0);
        const auto why = scan::writeSnapshotFile(csv(), QStringLiteral("new,"));
        QCOMPARE(why.value_or(QString()).contains(failure) && why.has_value(), !failure.isEmpty());
        QCOMPARE(fileBytes(file), failure.isEmpty() ? QByteArray("new,\r\n") : "old,\r\n");
        QCOMPARE(QFileInfo(csv()).isSymLink(), link);
        for (const QString &folder : {dir.path(), elsewhere}) // no temporary file left
            QVERIFY(
                QDir(folder).entryList({"*rtu-station*"}, QDir::Files | QDir::Hidden).isEmpty());
        QCOMPARE(modeOf(file), mode);
        QFile::setPermissions(file, QFile::Permissions(0x6644));
        QFile::remove(csv());
    }

    // Only temporary files of this program whose process is gone; an operator's copies, files
    // of other programs and a live station's write in progress stay.
    void startUpRemovesLeftoverTemporaries() {
        const pid_t dead = ::fork();
        if (dead == 0)
            ::_exit(0);
        ::waitpid(dead, nullptr, 0);
        const QString ours = QStringLiteral(".mwRARE.csv.rtu-station-%1-AbC123");
        const QStringList leftovers{ours.arg(dead), ours.arg(dead).replace("AbC", "zz9")};
        const QStringList others{"mwRARE.csv.AbC123",
                                 "mwRARE.csv.backup",
                                 "mwRARE.csv.orig12",
                                 ours.arg(::getppid()),
                                 ours.arg(dead) + u'4',
                                 ".mwRARE.csv.rtu-station-x-AbC123",
                                 ".other.csv.rtu-station-1-AbC123"};
        for (const QString &name : leftovers + others)
            QVERIFY(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
        form.reset();
        form = std::make_unique<Form1>(
            std::array<SerialTransport *, 2>{new FakeTransport, new FakeTransport},
            Form1Options{csv(), 100});
        for (const QString &name : leftovers)
            QTRY_VERIFY2(!QFile::exists(dir.filePath(name)), qPrintable(name));
        for (const QString &name : others)
            QVERIFY2(QFile::remove(dir.filePath(name)), qPrintable(name));
    }

    // A disk that holds a write up costs the cycle nothing: the cycles keep their pace, the box
    // says so after the limit, and of the lines made meanwhile only the newest is written.
    void heldUpWriteLeavesTheCycleAlone() {
        QSemaphore disk;
        QMutex mutex;
        QStringList written;
        std::atomic<int> writes = 0;
        form = std::make_unique<Form1>(
            std::array<SerialTransport *, 2>{port0 = new FakeTransport, port1 = new FakeTransport},
            Form1Options{.csvPath = csv(),
                         .replyTimeoutMs = 100,
                         .writeSnapshot =
                             [&](const QString &, const QString &line) {
                                 disk.acquire();
                                 const QMutexLocker lock(&mutex);
                                 written << line;
                                 ++writes;
                                 return std::optional<QString>();
                             },
                         .snapshotStuckMs = 300,
                         .clock = clock.get()});
        port0->clock = port1->clock = clock.get();
        control = form->scanControl();
        form->Timer2->stop();
        answer(port0);
        int cycles = 0;
        QList<qint64> starts, ends;
        connect(control, &scan::ScanControl::cycleStarted, this, [&] {
            starts << clock->now();
            form->tabel->setCellText(4, 5, QString::number(++cycles)); // each line its own
        });
        connect(control, &scan::ScanControl::cycleFinished, this, [&] {
            ends << clock->now();
            if (cycles == 4)
                form->PBScan->click(); // scanning off after the fourth
        });
        form->PBScan->click();
        QVERIFY(waitCycles(4));
        for (int i = 1; i < 4; ++i)
            QCOMPARE(starts[i] - ends[i - 1], 500 * ms);
        // The writer's own limit runs on the wall clock.
        QTRY_VERIFY(form->txtPrint->styleSheet().contains("red"));
        QVERIFY2(form->txtPrint->toolTip().contains("has not ended after 0.3 s"),
                 qPrintable(form->txtPrint->toolTip()));
        disk.release(10);
        QTRY_COMPARE(writes.load(), 2);
        QCOMPARE(written.last(), form->txtPrint->text());
        QVERIFY(written.last().contains(",4,"));
        QTRY_VERIFY(form->txtPrint->styleSheet().isEmpty());
        // Once the writes have ended, nothing is reported stuck any more.
        QSignalSpy stuck(form->snapshotWriter(), &scan::SnapshotWriter::stuck);
        QVERIFY(!stuck.wait(2 * 300));
        QVERIFY(form->txtPrint->styleSheet().isEmpty());
        form.reset(); // before the function's captures go
    }

    void closingTheWindowWhileAPollWaits() {
        port0->onWrite = [this](const QByteArray &) {
            clock->after(0, [this] {
                form->close();
                form.reset();
            });
        };
        form->PBScan->click();
        QVERIFY(clock->runUntil([this] { return !form; }));
        clock->advance(300 * ms); // past the reply time-out of the interrupted poll
    }

    // The whole test once more as "nobody", where the system refuses what root is let through.
    void passesAsAnUnprivilegedUser() { passAgainAsNobody(); }
};

QTEST_MAIN(TestScan)
#include "test_scan.moc"
