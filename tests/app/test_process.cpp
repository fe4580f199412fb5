// The station as a program: configuration it refuses before the window opens, and the signals
// that stop it, against the plant simulator.
#include "plantsim.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Lock files that name a device under `folder`, in the usual lock directories.
QStringList locksFor(const QString &folder) {
    QString token = folder;
    token.replace(u'/', u'_');
    QStringList found;
    for (const char *lockDir : {"/run/lock", "/var/lock"})
        for (const QString &name : QDir(QString::fromLatin1(lockDir)).entryList(QDir::Files))
            if (name.contains(token))
                found << name;
    return found;
}

// The signals a process holds back (SigBlk of its main thread), as a mask: bit N-1 is signal N.
quint64 blocked(pid_t pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("SigBlk:"))
            return line.mid(7).trimmed().toULongLong(nullptr, 16);
    return 0;
}

} // namespace

class TestProcess : public QObject {
    Q_OBJECT

private slots:
    void refusedAtStartUp_data() {
        QTest::addColumn<QStringList>("set");
        QTest::addColumn<QStringList>("unset");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        const QStringList none;
        const QStringList noDisplay{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
        const auto pattern = [](const char *p) {
            return QStringList{QStringLiteral("RTU_STATION_PORTS=") + QLatin1String(p)};
        };
        QTest::newRow("pattern without %1") << pattern("/dev/rtu/COM") << none << 2
                                            << "RTU_STATION_PORTS=\"/dev/rtu/COM\" has no %1";
        QTest::newRow("pattern with %2") << pattern("/dev/rtu/COM%2") << none << 2 << "%2";
        QTest::newRow("pattern with %L1") << pattern("/dev/rtu/COM%L1") << none << 2 << "%L1";
        QTest::newRow("pattern with %10") << pattern("/dev/%1/COM%10") << none << 2 << "%10";
        QTest::newRow("a CR after a setting")
            << QStringList{"RTU_STATION_SERVER=plant-web\r"} << none << 2
            << "RTU_STATION_SERVER holds a carriage return";
        QTest::newRow("a line of the settings file")
            << QStringList{"RTU_STATION_SETTINGS_ERROR=/etc/x.conf line 3: not a NAME=value line"}
            << none << 2 << "/etc/x.conf line 3: not a NAME=value line";
        QTest::newRow("no display") << none << noDisplay << 1 << "no display";
        QTest::newRow("X11 without a display")
            << QStringList{"QT_QPA_PLATFORM=xcb"} << QStringList{"DISPLAY", "WAYLAND_DISPLAY"} << 1
            << "no display";
        // A display no X server answers on: one line, not the toolkit's abort.
        QTest::newRow("X11 display with no server")
            << QStringList{"QT_QPA_PLATFORM=xcb", "DISPLAY=:4093"} << QStringList{"WAYLAND_DISPLAY"}
            << 1 << "cannot open display \":4093\"";
        QTest::newRow("no platform chosen, display with no server")
            << QStringList{"DISPLAY=:4093"} << QStringList{"WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}
            << 1 << "cannot open display \":4093\"";
    }
    void refusedAtStartUp() {
        QFETCH(QStringList, set);
        QFETCH(QStringList, unset);
        QFETCH(int, status);
        QFETCH(QString, says);
        if (says.contains(":4093") && QFile::exists("/tmp/.X11-unix/X4093"))
            QSKIP("display :4093 is in use here");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &name : unset)
            env.remove(name);
        for (const QString &pair : set)
            env.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
        QProcess station;
        station.setProcessEnvironment(env);
        station.start(QStringLiteral(RTU_STATION_PATH), {});
        QVERIFY(station.waitForFinished(20000));
        QCOMPARE(station.exitStatus(), QProcess::NormalExit);
        QCOMPARE(station.exitCode(), status);
        const QString err = QString::fromLocal8Bit(station.readAllStandardError());
        QCOMPARE(err.count(u'\n'), 1);
        QVERIFY2(err.startsWith("rtu-station: ") && err.contains(says), qPrintable(err));
    }

    void signalClosesTheWindow_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("duringPollWait");
        QTest::addColumn<bool>("atStart"); // as soon as main has begun, before the toolkit
        // Under a file-size limit no snapshot can be written: the write fails, every cycle,
        // and the station runs on (the limit's signal does not end it).
        QTest::addColumn<bool>("sizeLimited");
        QTest::newRow("SIGTERM right after a cycle") << int(SIGTERM) << false << false << false;
        QTest::newRow("SIGTERM during a poll wait") << int(SIGTERM) << true << false << false;
        QTest::newRow("SIGINT") << int(SIGINT) << false << false << false;
        QTest::newRow("SIGHUP") << int(SIGHUP) << false << false << false;
        QTest::newRow("SIGTERM at start") << int(SIGTERM) << false << true << false;
        QTest::newRow("SIGINT at start") << int(SIGINT) << false << true << false;
        QTest::newRow("SIGTERM under a file-size limit") << int(SIGTERM) << false << false << true;
    }
    void signalClosesTheWindow() {
        QFETCH(int, signal);
        QFETCH(bool, duringPollWait);
        QFETCH(bool, atStart);
        QFETCH(bool, sizeLimited);
        // A silent plant keeps every poll waiting its whole reply time-out.
        PlantSim sim(duringPollWait ? QStringList{"--silent", "1"} : QStringList{});
        QVERIFY(sim.start());
        QTemporaryDir work;
        const QString program = work.filePath("rtu-station");
        QVERIFY(QFile::copy(QStringLiteral(RTU_STATION_PATH), program));
        // A temporary file of a station that was killed: removed at start.
        const pid_t dead = ::fork();
        if (dead == 0)
            ::_exit(0);
        ::waitpid(dead, nullptr, 0);
        const QString leftover = QStringLiteral(".mwRARE.csv.rtu-station-%1-Zz9Zz9").arg(dead);
        QVERIFY(QFile(work.filePath(leftover)).open(QIODevice::WriteOnly));
        QFileSystemWatcher watcher{QStringList{work.path()}};
        QSignalSpy changed(&watcher, &QFileSystemWatcher::directoryChanged);

        QProcess station;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("RTU_STATION_PORTS", sim.portPattern());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        station.setProcessEnvironment(env);
        station.setProcessChannelMode(QProcess::ForwardedChannels);
        if (sizeLimited)
            station.setChildProcessModifier([] {
                const rlimit limit{8, 8};
                ::setrlimit(RLIMIT_FSIZE, &limit);
                ::signal(SIGXFSZ, SIG_DFL); // as a service manager starts it
            });
        station.start(program, {});
        QVERIFY(station.waitForStarted(10000));
        if (atStart) {
            // The first line of main holds the signal back; the loader's work before it cannot.
            const pid_t pid = pid_t(station.processId());
            QDeadlineTimer deadline(10000);
            while (!(blocked(pid) & (1ull << (signal - 1))) && !deadline.hasExpired())
                ::usleep(200); // the moment is short: no event loop round between looks
            QVERIFY(!deadline.hasExpired());
            ::kill(pid, signal);
            QVERIFY(station.waitForFinished(20000));
            QCOMPARE(station.exitStatus(), QProcess::NormalExit);
            QCOMPARE(station.exitCode(), 0);
            QCOMPARE(locksFor(sim.dir()), QStringList());
            return;
        }
        if (sizeLimited) {
            // The leftover goes, then each cycle's temporary file comes and goes.
            QTRY_VERIFY_WITH_TIMEOUT(changed.count() >= 5 || station.state() != QProcess::Running,
                                     30000);
            QCOMPARE(station.state(), QProcess::Running);
            ::kill(pid_t(station.processId()), signal);
            QVERIFY(station.waitForFinished(10000));
            QCOMPARE(station.exitStatus(), QProcess::NormalExit);
            QCOMPARE(station.exitCode(), 0);
            QCOMPARE(QDir(work.path()).entryList(QDir::Files | QDir::Hidden),
                     QStringList{"rtu-station"});
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(work.filePath("mwRARE.csv")), 20000);
        const QStringList locks = locksFor(sim.dir());
        changed.clear();
        QVERIFY(changed.wait(10000)); // the next snapshot renamed into place: a cycle ended
        if (duringPollWait) // half-way through the next poll's reply wait (pause 500, wait 500)
            QTest::qWait(750);
        ::kill(pid_t(station.processId()), signal);
        QVERIFY(station.waitForFinished(10000));
        QCOMPARE(station.exitStatus(), QProcess::NormalExit);
        QCOMPARE(station.exitCode(), 0);
        if (locks.isEmpty())
            qWarning("no port lock files seen while running: the lock check proves nothing");
        QCOMPARE(locksFor(sim.dir()), QStringList());
        QCOMPARE(QDir(work.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 (QStringList{"mwRARE.csv", "rtu-station"}));
    }
};

QTEST_GUILESS_MAIN(TestProcess)
#include "test_process.moc"
