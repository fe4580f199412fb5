#include "portlock.h"
#include "qserialtransport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

bool openAs(QSerialTransport &port, const QString &pattern, int number) {
    qputenv("RTU_STATION_PORTS", pattern.toUtf8());
    port.setPortNumber(number);
    return port.open();
}

// The other process: holds the port as a station, or by its flock alone, until its input ends.
int holdPort(const QString &how, const QString &pattern, int number) {
    QSerialTransport port;
    const QByteArray device = QFile::encodeName(pattern.arg(number));
    int fd = -1;
    const bool held = how == QLatin1String("station")
                          ? openAs(port, pattern, number)
                          : (fd = ::open(device.constData(), O_RDWR | O_NOCTTY)) >= 0 &&
                                ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (!held)
        return 1;
    std::puts("held");
    std::fflush(stdout);
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    return 0;
}

} // namespace

class TestPortLock : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        while (pts_ < 1) { // port numbers start at 1: /dev/pts/0 will not do
            const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
            QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
            masters_.push_back(master);
            pts_ = QByteArray(::ptsname(master)).mid(9).toInt();
        }
        device_ = QStringLiteral("/dev/pts/%1").arg(pts_);
        for (const char *link : {"/COM1", "/COM2"})
            QVERIFY(QFile::link(device_, dir_.path() + link));
        lockFile_ = portlock::lockFilePath(device_);
        QVERIFY(!lockFile_.isEmpty());
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
                     why.contains(holder == QLatin1String("flock") ? "flock" : lockFile_),
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
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("opens");
        QTest::newRow("live, usual form") << QString("%1\n").arg(1, 10).toLatin1() << false;
        QTest::newRow("live, QSerialPort's form") << QByteArray("1\nminicom\nhost\n") << false;
        QTest::newRow("dead, usual form") << QString("%1\n").arg(gone, 10).toLatin1() << true;
        QTest::newRow("dead, QSerialPort's form") << QByteArray::number(gone) + "\nx\nhost\n"
                                                  << true;
    }
    void foreignLockFile() {
        QFETCH(QByteArray, content);
        QFETCH(bool, opens);
        QFile lock(lockFile_);
        QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write(content) == content.size());
        lock.close();
        QSerialTransport port;
        QCOMPARE(openAs(port, pattern("COM1"), number("COM1")), opens);
        if (opens) {
            QVERIFY(lock.open(QIODevice::ReadOnly));
            QCOMPARE(lock.readLine().trimmed().toLongLong(), QCoreApplication::applicationPid());
            port.close();
        } else {
            QVERIFY2(port.lastOpenError().contains("in use by process 1 ("),
                     qPrintable(port.lastOpenError()));
            QCOMPARE(lock.size(), content.size()); // left as it was
            QVERIFY(lock.remove());
        }
        QVERIFY(!lock.exists());
    }

private:
    // A name as the station is given it: port pattern and number.
    QString pattern(const QString &name) const {
        return name == QLatin1String("pts") ? QStringLiteral("/dev/pts/%1")
                                            : dir_.path() + QStringLiteral("/COM%1");
    }
    int number(const QString &name) const {
        return name == QLatin1String("pts") ? pts_ : name.mid(3).toInt();
    }

    QTemporaryDir dir_;
    std::vector<int> masters_;
    int pts_ = 0;
    QString device_;
    QString lockFile_;
};

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], "--hold") == 0)
        return holdPort(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                        QByteArray(argv[4]).toInt());
    TestPortLock test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_portlock.moc"
