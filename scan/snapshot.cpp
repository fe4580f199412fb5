#include "snapshot.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace scan {

namespace {

constexpr int suffixLength = 6;
constexpr QLatin1StringView marker(".rtu-station-");

QString systemError(const char *step, int error) {
    return QStringLiteral("%1: %2").arg(QLatin1StringView(step),
                                        QString::fromLocal8Bit(std::strerror(error)));
}

// "DIR/.NAME.rtu-station-PID-" for the file DIR/NAME: hidden, and named after the program and
// the process, so that nobody else's file is ever taken for one of ours.
QString temporaryPrefix(const QString &path, qint64 pid) {
    const QFileInfo file(path);
    return file.dir().filePath(u'.' + file.fileName() + marker + QString::number(pid) + u'-');
}

QByteArray temporaryName(const QByteArray &target) {
    static constexpr char letters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name = QFile::encodeName(temporaryPrefix(QFile::decodeName(target), ::getpid()));
    for (int i = 0; i < suffixLength; ++i)
        name += letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
    return name;
}

// The file a link points to, followed to its end; the path itself when it is no link.
QString followLinks(const QString &path) {
    QFileInfo file(path);
    for (int hops = 0; file.isSymLink() && hops < 40; ++hops)
        file = QFileInfo(file.symLinkTarget());
    return file.filePath();
}

// A file that is there and may not be written is never replaced: renaming over it would need
// only the folder's permission, not the file's.
std::optional<QString> refusedAsReadOnly(const QByteArray &target) {
    struct stat st {};
    if (::stat(target.constData(), &st) != 0)
        return std::nullopt;
    if ((st.st_mode & 0222) == 0)
        return QStringLiteral("the file is read-only (mode %1)")
            .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    if (::access(target.constData(), W_OK) != 0)
        return systemError("the file may not be written", errno);
    return std::nullopt;
}

bool processAlive(qint64 pid) {
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// Writes all bytes, then syncs them to the device; on failure, the step and errno.
std::optional<QString> writeAndSync(int fd, const QByteArray &bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) // a file-size limit gives a short write first, the reason at the next one
            return systemError("write", n < 0 ? errno : EIO);
        done += n;
    }
    if (::fsync(fd) != 0)
        return systemError("sync", errno);
    return std::nullopt;
}

// Writes the bytes into a new file beside the target and renames it over the target. `refused`
// tells that the folder would not take a new file at all.
std::optional<QString> replaceAtomically(const QByteArray &path, const QByteArray &bytes,
                                         bool &refused) {
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = temporaryName(path);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            refused = errno == EACCES || errno == EPERM || errno == EROFS;
            return systemError("create a temporary file beside it", errno);
        }
    }
    if (fd < 0)
        return systemError("create a temporary file beside it", EEXIST);
    struct stat old {};
    if (::stat(path.constData(), &old) == 0)
        ::fchmod(fd, old.st_mode & 07777); // the file keeps its permissions
    std::optional<QString> failure = writeAndSync(fd, bytes);
    if (::close(fd) != 0 && !failure)
        failure = systemError("close", errno);
    if (!failure && ::rename(temporary.constData(), path.constData()) != 0)
        failure = systemError("rename", errno);
    if (failure)
        ::unlink(temporary.constData());
    return failure;
}

std::optional<QString> rewriteInPlace(const QByteArray &path, const QByteArray &bytes) {
    const int fd = ::open(path.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return systemError("open", errno);
    std::optional<QString> failure = writeAndSync(fd, bytes);
    if (::close(fd) != 0 && !failure)
        failure = systemError("close", errno);
    return failure;
}

} // namespace

QString snapshotLine(const std::function<QString(int column)> &cell) {
    QString line;
    for (int column = firstSnapshotColumn; column <= lastSnapshotColumn; ++column)
        line += cell(column) + u',';
    return line;
}

std::optional<QString> writeSnapshotFile(const QString &path, const QString &line) {
    // Through a link the target is replaced in its own folder, and the link stays a link.
    const QByteArray target = QFile::encodeName(followLinks(path));
    const QByteArray bytes = line.toLatin1() + "\r\n";
    if (const auto readOnly = refusedAsReadOnly(target))
        return readOnly;
    bool refused = false;
    const auto failure = replaceAtomically(target, bytes, refused);
    if (!failure || !refused)
        return failure;
    if (const auto inPlace = rewriteInPlace(target, bytes))
        return *failure + QStringLiteral("; in place, ") + *inPlace;
    return std::nullopt;
}

std::optional<qint64> snapshotTemporaryOwner(const QString &path, const QString &fileName) {
    const QString prefix = QFileInfo(temporaryPrefix(path, 0)).fileName().chopped(2); // "…-0-"
    if (!fileName.startsWith(prefix))
        return std::nullopt;
    const QStringView rest = QStringView(fileName).sliced(prefix.size());
    const qsizetype dash = rest.indexOf(u'-');
    if (dash < 1 || rest.size() - dash - 1 != suffixLength)
        return std::nullopt;
    for (const QChar c : rest.first(dash))
        if (!c.isDigit() || c.unicode() > 0x7F)
            return std::nullopt;
    for (const QChar c : rest.sliced(dash + 1))
        if (c.unicode() > 0x7F || !c.isLetterOrNumber())
            return std::nullopt;
    bool ok = false;
    const qint64 pid = rest.first(dash).toLongLong(&ok);
    return ok ? std::optional(pid) : std::nullopt;
}

int removeSnapshotTemporaries(const QString &path) {
    const QFileInfo file(followLinks(path));
    QDir folder = file.dir();
    int removed = 0;
    const QStringList names = folder.entryList({u'.' + file.fileName() + marker + u'*'},
                                               QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        // A live station's write is left alone.
        const auto owner = snapshotTemporaryOwner(file.filePath(), name);
        if (owner && !processAlive(*owner) && folder.remove(name))
            ++removed;
    }
    return removed;
}

} // namespace scan
