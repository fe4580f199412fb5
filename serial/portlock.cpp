#include "portlock.h"

#include <QFile>
#include <QFileInfo>
#include <array>
#include <optional>
#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace portlock {
namespace {

// Where QSerialPort puts its lock file, in its order of preference.
constexpr std::array lockDirectories{"/var/lock",         "/etc/locks", "/var/spool/locks",
                                     "/var/spool/uucp",   "/tmp",       "/var/tmp",
                                     "/var/lock/lockdev", "/run/lock"};

#ifdef Q_OS_UNIX
bool isAlive(qint64 pid) {
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// The live process a lock file names. A file whose process is gone is stale and removed.
std::optional<qint64> lockFileOwner(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // The PID in ASCII on the first line (ten characters wide in the usual form; QSerialPort
    // writes program and host on the lines after it).
    bool ok = false;
    const qint64 pid = file.readLine().trimmed().toLongLong(&ok);
    if (!ok || pid <= 0)
        return std::nullopt; // a form we cannot judge: QSerialPort's own check decides
    if (isAlive(pid))
        return pid;
    file.remove();
    return std::nullopt;
}

// The process holding an flock on the device, from the kernel's table of locks.
std::optional<qint64> flockHolder(const QByteArray &path) {
    struct stat node {};
    QFile table(QStringLiteral("/proc/locks"));
    if (::stat(path.constData(), &node) != 0 || !table.open(QIODevice::ReadOnly))
        return std::nullopt;
    // "1: FLOCK  ADVISORY  WRITE 1234 00:19:4 0 EOF"; a waiter's line has "->" after the number.
    const QByteArray file = QString::asprintf("%02x:%02x:%lu", major(node.st_dev),
                                              minor(node.st_dev), ulong(node.st_ino))
                                .toLatin1();
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 6 && fields[1] == "FLOCK" && fields[5] == file)
            return fields[4].toLongLong();
    }
    return std::nullopt;
}

QString inUse(const QString &device, std::optional<qint64> pid) {
    if (!pid)
        return QStringLiteral("%1 is in use by another program").arg(device);
    QString who = QStringLiteral("process %1").arg(*pid);
    if (QFile comm(QStringLiteral("/proc/%1/comm").arg(*pid)); comm.open(QIODevice::ReadOnly))
        who += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(comm.readAll().trimmed()));
    return QStringLiteral("%1 is in use by %2").arg(device, who);
}
#endif

} // namespace

QString realDevice(const QString &name) {
    const QString real = QFileInfo(name).canonicalFilePath();
    return real.isEmpty() ? name : real;
}

QString lockFilePath(const QString &device) {
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(u'/', u'_');
    for (const char *directory : lockDirectories) {
        const QString path = QLatin1String(directory) + QLatin1String("/LCK..") + name;
        const QFileInfo info{QLatin1String(directory)};
        if (info.isReadable() && (QFile::exists(path) || info.isWritable()))
            return path;
    }
    return {};
}

#ifdef Q_OS_UNIX
DeviceLock::DeviceLock(const QString &device) {
    const QString lockFile = lockFilePath(device);
    if (const auto owner = lockFileOwner(lockFile)) {
        refusal_ = inUse(device, owner) + QStringLiteral(", lock file %1").arg(lockFile);
        return;
    }
    const QByteArray path = QFile::encodeName(device);
    // Non-blocking, so a modem line without carrier does not hold the open.
    fd_ = ::open(path.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        refusal_ = errno == EBUSY ? inUse(device, flockHolder(path)) +
                                        QStringLiteral(", which has it open exclusively")
                                  : QStringLiteral("%1: %2").arg(device, qt_error_string(errno));
        return;
    }
    // Per open file description: it also stops a second open in this process, and root.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        refusal_ = inUse(device, flockHolder(path)) + QStringLiteral(", which holds its flock");
        ::close(std::exchange(fd_, -1));
        return;
    }
    held_ = true;
}

DeviceLock::~DeviceLock() {
    if (fd_ >= 0)
        ::close(fd_); // drops the flock
}
#else
// Elsewhere the system opens a serial port for one program only.
DeviceLock::DeviceLock(const QString &)
    : held_(true) {}
DeviceLock::~DeviceLock() = default;
#endif

} // namespace portlock
