#include "snapshot.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace scan {

namespace {

constexpr int suffixLength = 6;

QString systemError(const char *step, int error) {
    return QStringLiteral("%1: %2").arg(QLatin1StringView(step),
                                        QString::fromLocal8Bit(std::strerror(error)));
}

QByteArray temporaryName(const QByteArray &path) {
    static constexpr char letters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name = path + '.';
    for (int i = 0; i < suffixLength; ++i)
        name += letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
    return name;
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
    const QByteArray target = QFile::encodeName(path);
    const QByteArray bytes = line.toLatin1() + "\r\n";
    bool refused = false;
    const auto failure = replaceAtomically(target, bytes, refused);
    if (!failure || !refused)
        return failure;
    if (const auto inPlace = rewriteInPlace(target, bytes))
        return *failure + QStringLiteral("; in place, ") + *inPlace;
    return std::nullopt;
}

bool isSnapshotTemporary(const QString &path, const QString &fileName) {
    const QString base = QFileInfo(path).fileName() + u'.';
    if (fileName.size() != base.size() + suffixLength || !fileName.startsWith(base))
        return false;
    for (const QChar c : QStringView(fileName).sliced(base.size()))
        if (c.unicode() > 0x7F || !c.isLetterOrNumber())
            return false;
    return true;
}

int removeSnapshotTemporaries(const QString &path) {
    const QFileInfo file(path);
    QDir folder = file.dir();
    int removed = 0;
    const QStringList names =
        folder.entryList({file.fileName() + QStringLiteral(".*")}, QDir::Files | QDir::Hidden);
    for (const QString &name : names)
        if (isSnapshotTemporary(path, name) && folder.remove(name))
            ++removed;
    return removed;
}

} // namespace scan
