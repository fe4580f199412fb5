#include "capturefile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace traffic {

namespace {

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

CaptureFile::CaptureFile(QString path, qint64 sizeLimit, QObject *parent)
    : QObject(parent)
    , path_(std::move(path))
    , encodedPath_(QFile::encodeName(path_))
    , sizeLimit_(sizeLimit) {
    timer_.setSingleShot(true);
    timer_.setInterval(flushIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &CaptureFile::flush);
}

CaptureFile::~CaptureFile() {
    flush();
    closeFile();
}

void CaptureFile::append(const QByteArray &line) {
    if (pending_.size() + line.size() > bufferLimit) {
        drop(1, QStringLiteral("the file is not keeping up"));
        return;
    }
    pending_ += line;
    if (!timer_.isActive())
        timer_.start();
}

void CaptureFile::flush() {
    // At most a few pieces per tick; what is left waits for the next one.
    for (int piece = 0; piece < 4 && !pending_.isEmpty(); ++piece)
        writeSome();
    if (!pending_.isEmpty())
        timer_.start();
}

void CaptureFile::writeSome() {
    // A piece of whole lines, bounded, so that no single write is long.
    qsizetype length = pending_.size();
    if (length > writeLimit) {
        const qsizetype end = pending_.lastIndexOf('\n', writeLimit - 1);
        length = end < 0 ? pending_.indexOf('\n') + 1 : end + 1;
    }
    QByteArray piece = pending_.left(length);
    const qsizetype lines = piece.count('\n');
    pending_.remove(0, length);
    if (!ensureOpen() || !rotateIfFull(piece.size())) {
        drop(lines, openError_);
        return;
    }
    // The line a short write cut ends first; it was counted as dropped then.
    const qsizetype ending = midLine_ ? 1 : 0;
    if (midLine_)
        piece.prepend('\n');
    ssize_t n;
    do
        n = ::write(fd_, piece.constData(), size_t(piece.size()));
    while (n < 0 && errno == EINTR);
    const qsizetype kept = std::max<qsizetype>(n, 0);
    size_ += kept;
    written_ += quint64(piece.left(kept).count('\n') - std::min(kept, ending));
    if (kept == piece.size()) {
        midLine_ = false;
        return;
    }
    // Short or failed: what did not reach the file is dropped. A pipe that is full now keeps
    // its reader and is written again next time; any other failure reopens the file then.
    const int error = n < 0 ? errno : EAGAIN;
    if (kept > 0)
        midLine_ = piece.at(kept - 1) != '\n';
    drop(piece.mid(kept).count('\n') - (ending - std::min(kept, ending)),
         error == EAGAIN ? QStringLiteral("the reader is not keeping up") : errnoText(error));
    if (error != EAGAIN)
        closeFile();
}

bool CaptureFile::ensureOpen() {
    if (fd_ >= 0)
        return stillThere();
    // Never waits: a FIFO without a reader fails at once (ENXIO) instead of holding the open.
    fd_ = ::open(encodedPath_.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC,
                 0644);
    if (fd_ < 0) {
        const int error = errno;
        openError_ =
            error == ENXIO ? QStringLiteral("no reader on the other end") : errnoText(error);
        return false;
    }
    struct stat st {};
    ::fstat(fd_, &st);
    regular_ = S_ISREG(st.st_mode);
    size_ = regular_ ? st.st_size : 0;
    midLine_ = false;
    return true;
}

bool CaptureFile::stillThere() {
    struct stat open {
    }, named{};
    if (::fstat(fd_, &open) != 0)
        return true; // the write itself will tell
    if (::stat(encodedPath_.constData(), &named) != 0 || named.st_ino != open.st_ino ||
        named.st_dev != open.st_dev) {
        // Removed or renamed under us: the lines go to a new file at the path.
        closeFile();
        return ensureOpen();
    }
    if (regular_)
        size_ = open.st_size; // truncated by someone else, or grown by another writer
    return true;
}

void CaptureFile::closeFile() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool CaptureFile::rotateIfFull(qsizetype incoming) {
    if (!regular_ || size_ == 0 || size_ + incoming <= sizeLimit_)
        return true;
    closeFile();
    const QString previous = path_ + QStringLiteral(".1");
    QFile::remove(previous);
    if (!QFile::rename(path_, previous))
        QFile::remove(path_); // a file that cannot be moved aside starts over rather than grow
    return ensureOpen();
}

void CaptureFile::drop(qsizetype lines, const QString &reason) {
    if (lines <= 0)
        return;
    dropped_ += quint64(lines);
    reason_ = reason;
    emit dropsChanged();
}

} // namespace traffic
