#include "portlock.h"
#include "qserialtransport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

enum Holder { InProcess, OtherStation, OtherFlock };

// "pts" names the pseudo-terminal by its own path, "COMn" by a link in the test's directory.
void useName(SerialTransport &port, const QString &dir, int pts, const QString &name) {
    const bool own = name == QLatin1String("pts");
    qputenv("RTU_STATION_PORTS", own ? "/dev/pts/%1" : QFile::encodeName(dir + "/COM%1"));
    port.setPortNumber(own ? pts : name.mid(3).toInt());
}

// The second process: holds the port (as a station, or by its flock alone) until its input
// closes.
int holdPort(const QString &how, const QString &pattern, int number) {
    qputenv("RTU_STATION_PORTS", pattern.toUtf8());
    QSerialTransport port;
    port.setPortNumber(number);
    int fd = -1;
    if (how == QLatin1String("station")) {
        if (!port.open())
            return 1;
    } else {
        fd = ::open(QFile::encodeName(pattern.arg(number)).constData(), O_RDWR | O_NOCTTY);
        if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
            return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    return 0;
}

QByteArray firstLine(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readLine().trimmed() : QByteArray();
}

} // namespace

class TestPortLock : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        // Port numbers start at 1, so /dev/pts/0 will not do.
        while (pts_ < 1) {
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

    // Two names of one adapter, one owner: the second open fails and names the holder, also
    // as root (the kernel's exclusive flag does not stop root; the flock does).
    void secondOpenIsRefused_data() {
        QTest::addColumn<int>("holder");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("destroyFirst");
        QTest::newRow("pts path, then a link") << int(InProcess) << "pts"
                                               << "COM1" << false;
        QTest::newRow("link, then the pts path") << int(InProcess) << "COM1"
                                                 << "pts" << true;
        QTest::newRow("two links of one pts") << int(InProcess) << "COM1"
                                              << "COM2" << false;
        QTest::newRow("same name twice") << int(InProcess) << "COM2"
                                         << "COM2" << true;
        QTest::newRow("another station") << int(OtherStation) << "COM1"
                                         << "COM2" << false;
        QTest::newRow("another program's flock") << int(OtherFlock) << "pts"
                                                 << "COM1" << false;
    }
    void secondOpenIsRefused() {
        QFETCH(int, holder);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, destroyFirst);
        auto firstPort = std::make_unique<QSerialTransport>();
        QProcess other;
        qint64 holderPid = QCoreApplication::applicationPid();
        if (holder == InProcess) {
            useName(*firstPort, dir_.path(), pts_, first);
            QVERIFY2(firstPort->open(), qPrintable(firstPort->lastOpenError()));
        } else {
            useName(*firstPort, dir_.path(), pts_, first); // only to learn the pattern
            other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            other.start(
                QCoreApplication::applicationFilePath(),
                {QStringLiteral("--hold"),
                 holder == OtherStation ? QStringLiteral("station") : QStringLiteral("flock"),
                 qEnvironmentVariable("RTU_STATION_PORTS"),
                 QString::number(firstPort->portNumber())});
            QTRY_VERIFY_WITH_TIMEOUT(other.canReadLine() || other.state() == QProcess::NotRunning,
                                     20000);
            QCOMPARE(other.readLine().trimmed(), QByteArray("held"));
            holderPid = other.processId();
        }

        QSerialTransport secondPort;
        useName(secondPort, dir_.path(), pts_, second);
        QVERIFY(!secondPort.open());
        const QString why = secondPort.lastOpenError();
        QVERIFY2(
            why.startsWith(device_ + QStringLiteral(" is in use by process %1 (").arg(holderPid)),
            qPrintable(why));
        QVERIFY2(why.contains(holder == OtherFlock ? QStringLiteral("flock") : lockFile_),
                 qPrintable(why));

        if (holder != InProcess) {
            other.closeWriteChannel();
            QTRY_COMPARE_WITH_TIMEOUT(other.state(), QProcess::NotRunning, 20000);
            QCOMPARE(other.exitCode(), 0);
        } else if (destroyFirst) {
            firstPort.reset();
        } else {
            firstPort->close();
        }
        QVERIFY(!QFile::exists(lockFile_));
        QVERIFY2(secondPort.open(), qPrintable(secondPort.lastOpenError()));
        QVERIFY(secondPort.lastOpenError().isEmpty());
        secondPort.close();
        QVERIFY(!QFile::exists(lockFile_));
    }

    // Other programs' lock files in the system's lock directory: a live process owns the
    // device, a dead one's file is taken over.
    void foreignLockFile_data() {
        QFile pidMax(QStringLiteral("/proc/sys/kernel/pid_max"));
        QVERIFY(pidMax.open(QIODevice::ReadOnly));
        const qint64 noSuchPid = pidMax.readAll().trimmed().toLongLong(); // PIDs stay below it
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("opens");
        QTest::newRow("live, usual form") << QString("%1\n").arg(1, 10).toLatin1() << false;
        QTest::newRow("live, QSerialPort's form") << QByteArray("1\nminicom\nhost\n") << false;
        QTest::newRow("dead, usual form") << QString("%1\n").arg(noSuchPid, 10).toLatin1() << true;
        QTest::newRow("dead, QSerialPort's form")
            << QByteArray::number(noSuchPid) + "\nrtu-station\nhost\n"
            << true;
    }
    void foreignLockFile() {
        QFETCH(QByteArray, content);
        QFETCH(bool, opens);
        QFile lock(lockFile_);
        QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write(content) == content.size());
        lock.close();
        QSerialTransport port;
        useName(port, dir_.path(), pts_, QStringLiteral("COM1"));
        QCOMPARE(port.open(), opens);
        if (opens) {
            QCOMPARE(firstLine(lockFile_).toLongLong(), QCoreApplication::applicationPid());
            port.close();
        } else {
            QVERIFY2(port.lastOpenError().contains(QStringLiteral("in use by process 1 (")),
                     qPrintable(port.lastOpenError()));
            QCOMPARE(QFile(lockFile_).size(), content.size()); // left as it was
            QVERIFY(QFile::remove(lockFile_));
        }
        QVERIFY(!QFile::exists(lockFile_));
    }

private:
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
