#include "asnobody.h"
#include "lockfile.h"
#include "portlock.h"
#include "qserialtransport.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool openAs(QSerialTransport &port, const QString &pattern, int number) {
    qputenv("RTU_STATION_PORTS", pattern.toUtf8());
    port.setPortNumber(number);
    return port.open();
}

// The other process: holds the port as a station, or by its flock alone (exclusive, or shared as
// a reader might), until its input ends.
int holdPort(const QString &how, const QString &pattern, int number) {
    QSerialTransport port;
    const QByteArray device = QFile::encodeName(pattern.arg(number));
    int fd = -1;
    const bool held =
        how == QLatin1String("station")
            ? openAs(port, pattern, number)
            : (fd = ::open(device.constData(), O_RDWR | O_NOCTTY)) >= 0 &&
                  ::flock(fd, (how == QLatin1String("shared flock") ? LOCK_SH : LOCK_EX) |
                                  LOCK_NB) == 0;
    if (!held)
        return 1;
    std::puts("held");
    std::fflush(stdout);
    char byte = 0;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    return 0;
}

// Opens the port once, as the user this runs as, and tells how it went on one line.
int openOnce(const QString &pattern, int number) {
    QSerialTransport port;
    const bool opened = openAs(port, pattern, number);
    std::printf("%s|%s\n", opened ? "opened" : "refused",
                qPrintable(opened ? port.openNotice() : port.lastOpenError()));
    return 0;
}

} // namespace

class TestPortLock : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        QVERIFY(::chmod(QFile::encodeName(dir_.path()).constData(), 0755) == 0); // for "nobody"
        // Port numbers start at 1: /dev/pts/0 will not do. Nor will a terminal whose lock name
        // another program's lock file already takes (a live program on a terminal since gone):
        // the lock names this test meets are its own.
        while (pts_ < 1 || QFile::exists(lockFile_)) {
            QVERIFY(masters_.size() < 64);
            const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
            QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
            masters_.push_back(master);
            pts_ = QByteArray(::ptsname(master)).mid(9).toInt();
            device_ = QStringLiteral("/dev/pts/%1").arg(pts_);
            lockFile_ = portlock::lockFilePath(device_);
            QVERIFY(!lockFile_.isEmpty());
        }
        // Names of this run's own, also as lock file names (LCK..<link>).
        linkPrefix_ = QStringLiteral("/rtu%1-COM").arg(QCoreApplication::applicationPid());
        for (int n : {1, 2})
            QVERIFY(QFile::link(device_, dir_.path() + linkPrefix_ + QString::number(n)));
    }
    void cleanupTestCase() {
        for (int master : masters_)
            ::close(master);
    }

    // One adapter, one owner, whatever it is called: the second open fails and names the
    // holder, also as root (the kernel's exclusive flag does not stop root; the flock does).
    void secondOpenIsRefused_data() {
        QTest::addColumn<QString>("holder"); // "here", or a second process: "station", "flock"
        QTest::addColumn<QString>("first");  // "pts" is the pseudo-terminal's own path
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("destroyFirst");
        QTest::newRow("pts path, then a link") << "here"
                                               << "pts"
                                               << "COM1" << false;
        QTest::newRow("link, then the pts path") << "here"
                                                 << "COM1"
                                                 << "pts" << true;
        QTest::newRow("two links of one pts") << "here"
                                              << "COM1"
                                              << "COM2" << false;
        QTest::newRow("same name twice") << "here"
                                         << "COM2"
                                         << "COM2" << true;
        QTest::newRow("another station") << "station"
                                         << "COM1"
                                         << "COM2" << false;
        QTest::newRow("another program's flock") << "flock"
                                                 << "pts"
                                                 << "COM1" << false;
        QTest::newRow("another program's shared flock") << "shared flock"
                                                        << "pts"
                                                        << "COM1" << false;
    }
    void secondOpenIsRefused() {
        QFETCH(QString, holder);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, destroyFirst);
        std::optional<QSerialTransport> firstPort;
        QProcess other;
        qint64 holderPid = QCoreApplication::applicationPid();
        if (holder == QLatin1String("here")) {
            QVERIFY(openAs(firstPort.emplace(), pattern(first), number(first)));
        } else {
            other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            other.start(QCoreApplication::applicationFilePath(),
                        {"--hold", holder, pattern(first), QString::number(number(first))});
            QTRY_VERIFY_WITH_TIMEOUT(other.canReadLine() || other.state() == QProcess::NotRunning,
                                     20000);
            QCOMPARE(other.readLine(), QByteArray("held\n"));
            holderPid = other.processId();
        }

        QSerialTransport secondPort;
        QVERIFY(!openAs(secondPort, pattern(second), number(second)));
        const QString why = secondPort.lastOpenError();
        QVERIFY2(why.startsWith(QStringLiteral("%1 is in use by process %2 (test_portlock), ")
                                    .arg(device_)
                                    .arg(holderPid)) &&
                     why.contains(holder.endsWith(QLatin1String("flock")) ? "flock" : lockFile_),
                 qPrintable(why));

        if (firstPort) {
            destroyFirst ? firstPort.reset() : firstPort->close();
        } else {
            other.closeWriteChannel();
            QTRY_COMPARE_WITH_TIMEOUT(other.state(), QProcess::NotRunning, 20000);
        }
        QVERIFY(!QFile::exists(lockFile_));
        QVERIFY2(secondPort.open(), qPrintable(secondPort.lastOpenError()));
        QVERIFY(secondPort.lastOpenError().isEmpty());
        secondPort.close();
        QVERIFY(!QFile::exists(lockFile_));
    }

    // Other programs' lock files: a live process owns the device, a dead one's file is taken
    // over (and ours is gone after the close).
    void foreignLockFile_data() {
        QFile pidMax(QStringLiteral("/proc/sys/kernel/pid_max"));
        QVERIFY(pidMax.open(QIODevice::ReadOnly));
        const qint64 gone = pidMax.readAll().trimmed().toLongLong(); // PIDs stay below it
        const auto padded = [](qint64 pid, const char *rest) {
            return QString("%1%2\n").arg(pid, 10).arg(QLatin1String(rest)).toLatin1();
        };
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("onLink"); // the lock file of a link's name, as minicom -D makes
        QTest::addColumn<bool>("opens");
        QTest::newRow("live, usual form") << padded(1, "") << false << false;
        QTest::newRow("live, QSerialPort's form")
            << QByteArray("1\nminicom\nhost\n") << false << false;
        QTest::newRow("live, program and user") << padded(1, " minicom root") << false << false;
        QTest::newRow("live, on a link's name") << padded(1, " minicom root") << true << false;
        QTest::newRow("dead, usual form") << padded(gone, "") << false << true;
        QTest::newRow("dead, QSerialPort's form") << QByteArray::number(gone) + "\nx\nhost\n"
                                                  << false << true;
        QTest::newRow("dead, program and user") << padded(gone, " minicom root") << false << true;
        QTest::newRow("dead, on a link's name") << padded(gone, " minicom root") << true << true;
    }
    void foreignLockFile() {
        QFETCH(QByteArray, content);
        QFETCH(bool, onLink);
        QFETCH(bool, opens);
        QFile lock(onLink ? linkLockFile() : lockFile_);
        QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write(content) == content.size());
        lock.close();
        QSerialTransport port;
        QCOMPARE(openAs(port, pattern("COM1"), number("COM1")), opens);
        if (opens) {
            QFile ours(lockFile_); // the stale file is gone, the station's own lock is taken
            QVERIFY(ours.open(QIODevice::ReadOnly));
            QCOMPARE(ours.readLine().trimmed().toLongLong(), QCoreApplication::applicationPid());
            port.close();
        } else {
            QVERIFY2(port.lastOpenError().contains("in use by process 1 (") &&
                         port.lastOpenError().contains(", user root, lock file " + lock.fileName()),
                     qPrintable(port.lastOpenError()));
            QCOMPARE(lock.size(), content.size()); // left as it was
            QVERIFY(lock.remove());
        }
        QVERIFY(!lock.exists());
    }

    // Another user's lock files, as an operator's station meets them: a live process's (the
    // system then answers "not permitted" to the check) keeps the port closed; a dead one's,
    // which the sticky lock directory does not let the station remove, does not while the
    // device's flock guards it. Run as root, the open is made as "nobody".
    void otherUsersLockFile_data() {
        QTest::addColumn<qint64>("pid");
        QTest::addColumn<bool>("onLink");
        QTest::addColumn<QString>("expected");
        QTest::newRow("live") << qint64(1) << false << "refused|%1 is in use by process 1 (";
        QTest::newRow("live, on a link's name") << qint64(1) << true << "refused|%1 is in use by";
        QTest::newRow("dead, kept")
            << deadPid() << false << "opened|Stale lock file %2 (of process ";
        QTest::newRow("dead, kept, on a link's name")
            << deadPid() << true << "opened|Stale lock file %2 (of process ";
    }
    void otherUsersLockFile() {
        QFETCH(qint64, pid);
        QFETCH(bool, onLink);
        QFETCH(QString, expected);
        if (::geteuid() != 0)
            QSKIP("needs root, to write a lock file of another user and open as nobody");
        QFile lock(onLink ? linkLockFile() : lockFile_);
        const QByteArray content = QString("%1 minicom root\n").arg(pid, 10).toLatin1();
        QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write(content) == content.size());
        lock.close();
        QVERIFY(::chown(QFile::encodeName(device_).constData(), 65534, 65534) == 0);
        QProcess station;
        station.start(QStringLiteral("setpriv"),
                      {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                       QCoreApplication::applicationFilePath(), "--open", pattern("COM1"),
                       QString::number(number("COM1"))});
        QVERIFY(station.waitForFinished(20000));
        QVERIFY(::chown(QFile::encodeName(device_).constData(), 0, 5) == 0);
        const QString got = QString::fromLocal8Bit(station.readAllStandardOutput()).trimmed();
        const bool kept = QFile::exists(lock.fileName());
        QVERIFY(lock.remove() || !kept);
        QVERIFY2(got.startsWith(expected.replace("%1", device_).replace("%2", lock.fileName())),
                 qPrintable(got));
        QVERIFY(kept); // nobody may not remove root's file
        QVERIFY(!QFile::exists(lockFile_));
    }

    void lockFileForms_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("pid"); // 0: no owner
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("user");
        const qint32 binary = 4547;
        QTest::newRow("bare") << QByteArray("4547") << qint64(4547) << ""
                              << "";
        QTest::newRow("padded") << QByteArray("      4547\n") << qint64(4547) << ""
                                << "";
        QTest::newRow("PID program user")
            << QByteArray("      4547 minicom root\n") << qint64(4547) << "minicom"
            << "root";
        QTest::newRow("QSerialPort's")
            << QByteArray("4547\nrtu-station\nhost\n") << qint64(4547) << "rtu-station"
            << "";
        QTest::newRow("binary") << QByteArray(reinterpret_cast<const char *>(&binary), 4)
                                << qint64(4547) << ""
                                << "";
        QTest::newRow("empty") << QByteArray() << qint64(0) << ""
                               << "";
        QTest::newRow("words") << QByteArray("minicom 4547\n") << qint64(0) << ""
                               << "";
        QTest::newRow("negative") << QByteArray("-1\n") << qint64(0) << ""
                                  << "";
        // PID 0 would ask about the station's own process group: no owner, never a live one.
        QTest::newRow("zero") << QByteArray("         0\n") << qint64(0) << ""
                              << "";
        QTest::newRow("binary zero") << QByteArray(4, '\0') << qint64(0) << ""
                                     << "";
    }
    void lockFileForms() {
        QFETCH(QByteArray, content);
        QFETCH(qint64, pid);
        QFETCH(QString, program);
        QFETCH(QString, user);
        const auto owner = portlock::parseLockFile(content);
        QCOMPARE(owner.has_value(), pid > 0);
        QCOMPARE(owner ? owner->pid : 0, pid);
        if (owner) {
            QCOMPARE(owner->program, program);
            QCOMPARE(owner->user, user);
        }
    }

    // The whole test once more as "nobody", where the system refuses what root is let through.
    void passesAsAnUnprivilegedUser() { passAgainAsNobody(); }

private:
    static qint64 deadPid() {
        QFile pidMax(QStringLiteral("/proc/sys/kernel/pid_max"));
        return pidMax.open(QIODevice::ReadOnly) ? pidMax.readAll().trimmed().toLongLong() : 0;
    }
    QString linkLockFile() const {
        return QFileInfo(lockFile_).path() + QStringLiteral("/LCK..") + linkPrefix_.mid(1) +
               QStringLiteral("1");
    }
    // A name as the station is given it: port pattern and number.
    QString pattern(const QString &name) const {
        return name == QLatin1String("pts") ? QStringLiteral("/dev/pts/%1")
                                            : dir_.path() + linkPrefix_ + QStringLiteral("%1");
    }
    int number(const QString &name) const {
        return name == QLatin1String("pts") ? pts_ : name.mid(3).toInt();
    }

    QTemporaryDir dir_;
    std::vector<int> masters_;
    int pts_ = 0;
    QString device_;
    QString lockFile_;
    QString linkPrefix_;
};

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--open") == 0)
        return openOnce(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    if (argc == 5 && qstrcmp(argv[1], "--hold") == 0)
        return holdPort(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                        QByteArray(argv[4]).toInt());
    TestPortLock test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_portlock.moc"
