#include "portlock.h"

#include "lockfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
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

QString userName(uint uid) {
    if (const passwd *entry = ::getpwuid(uid))
        return QString::fromLocal8Bit(entry->pw_name);
    return QString::number(uid);
}

// A lock file, judged: the process it names and whether that process lives.
struct Judged {
    LockFileOwner owner;
    bool alive = false;
};

std::optional<Judged> judge(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const auto owner = parseLockFile(file.read(4096));
    if (!owner)
        return std::nullopt; // a form we cannot judge: the serial port library's check decides
    return Judged{*owner, isAlive(owner->pid)};
}

// "process 4547 (minicom), user root": the system's word first, the lock file's after it.
QString describe(const LockFileOwner &owner, const QString &lockFile) {
    QString who = QStringLiteral("process %1").arg(owner.pid);
    QString program = owner.program, user = owner.user;
    if (QFile comm(QStringLiteral("/proc/%1/comm").arg(owner.pid)); comm.open(QIODevice::ReadOnly))
        program = QString::fromLocal8Bit(comm.readAll().trimmed());
    if (struct stat process{};
        ::stat(QStringLiteral("/proc/%1").arg(owner.pid).toLatin1().constData(), &process) == 0)
        user = userName(process.st_uid);
    else if (struct stat file{};
             user.isEmpty() && ::stat(QFile::encodeName(lockFile).constData(), &file) == 0)
        user = userName(file.st_uid);
    if (!program.isEmpty())
        who += QStringLiteral(" (%1)").arg(program);
    if (!user.isEmpty())
        who += QStringLiteral(", user %1").arg(user);
    return who;
}

// The lock directories there are, each once under its first name (/var/lock is /run/lock on
// Debian).
QStringList lockDirectoriesInUse() {
    QStringList found, real;
    for (const char *directory : lockDirectories) {
        const QString name = QLatin1String(directory);
        const QString canonical = QFileInfo(name).canonicalFilePath();
        if (!canonical.isEmpty() && !real.contains(canonical)) {
            real << canonical;
            found << name;
        }
    }
    return found;
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
QStringList lockFilesOf(const QString &device, const QStringList &names) {
    const QString own = QFileInfo(lockFilePath(device)).fileName();
    QStringList found;
    for (const QString &directory : lockDirectoriesInUse()) {
        for (const QString &file :
             QDir(directory).entryList({QStringLiteral("LCK..*")}, QDir::Files | QDir::System)) {
            const QString name = file.mid(5);
            QStringList candidates{QStringLiteral("/dev/") + name,
                                   QStringLiteral("/dev/") + QString(name).replace(u'_', u'/'),
                                   QStringLiteral("/dev/serial/by-id/") + name,
                                   QStringLiteral("/dev/serial/by-path/") + name};
            for (const QString &given : names)
                if (QFileInfo(given).fileName() == name)
                    candidates << given;
            const bool names_device =
                file == own ||
                std::any_of(candidates.begin(), candidates.end(), [&](const QString &c) {
                    return QFileInfo(c).canonicalFilePath() == device;
                });
            if (names_device)
                found << directory + u'/' + file;
        }
    }
    return found;
}

DeviceLock::DeviceLock(const QString &device, const QStringList &names)
    : device_(device) {
    const QString usualLock = lockFilePath(device);
    QStringList staleKept;
    for (const QString &lockFile : lockFilesOf(device, names)) {
        const auto judged = judge(lockFile);
        if (!judged)
            continue;
        if (judged->alive) {
            refusal_ = QStringLiteral("%1 is in use by %2, lock file %3")
                           .arg(device, describe(judged->owner, lockFile), lockFile);
            return;
        }
        // Stale: the process is gone. Removed where the station may; else the flock below
        // guards the device and the file is only named.
        if (!QFile::remove(lockFile)) {
            staleKept << QStringLiteral("%1 (of %2, which has ended)")
                             .arg(lockFile, describe(judged->owner, lockFile));
            usualLockStays_ = usualLockStays_ || QFileInfo(lockFile) == QFileInfo(usualLock);
        }
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
    if (!staleKept.isEmpty())
        notice_ = QStringLiteral("Stale lock file %1 could not be removed; the device's flock "
                                 "guards the port (root may remove the file)")
                      .arg(staleKept.join(QStringLiteral(", ")));
    held_ = true;
}

QString DeviceLock::openPath() const {
    return usualLockStays_ && fd_ >= 0 ? QStringLiteral("/proc/self/fd/%1").arg(fd_) : device_;
}

DeviceLock::~DeviceLock() {
    if (fd_ >= 0)
        ::close(fd_); // drops the flock
}
#else
// Elsewhere the system opens a serial port for one program only.
QStringList lockFilesOf(const QString &, const QStringList &) {
    return {};
}
DeviceLock::DeviceLock(const QString &device, const QStringList &)
    : held_(true)
    , device_(device) {}
QString DeviceLock::openPath() const {
    return device_;
}
DeviceLock::~DeviceLock() = default;
#endif

} // namespace portlock
