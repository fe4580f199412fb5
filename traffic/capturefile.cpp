#include "capturefile.h"

#include <QFileInfo>

namespace traffic {

CaptureFile::CaptureFile(QString path, qint64 sizeLimit, QObject *parent)
    : QObject(parent)
    , path_(std::move(path))
    , sizeLimit_(sizeLimit)
    , file_(path_) {
    timer_.setSingleShot(true);
    timer_.setInterval(flushIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &CaptureFile::flush);
}

CaptureFile::~CaptureFile() {
    flush();
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
        drop(lines, file_.errorString());
        return;
    }
    if (midLine_)
        piece.prepend('\n');
    const qint64 written = file_.write(piece);
    if (written == piece.size()) {
        size_ += written;
        midLine_ = false;
        return;
    }
    // Short or failed: what did not reach the file is dropped, and the file reopened next time.
    const QString why = file_.errorString();
    const qsizetype kept = std::max<qint64>(written, 0);
    size_ += kept;
    midLine_ = kept > 0 && piece.at(kept - 1) != '\n';
    drop(piece.mid(kept).count('\n'), why);
    file_.close();
}

bool CaptureFile::ensureOpen() {
    if (file_.isOpen())
        return true;
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    size_ = file_.size();
    return true;
}

bool CaptureFile::rotateIfFull(qsizetype incoming) {
    if (size_ == 0 || size_ + incoming <= sizeLimit_ || !QFileInfo(path_).isFile())
        return true;
    file_.close();
    const QString previous = path_ + QStringLiteral(".1");
    QFile::remove(previous);
    if (!QFile::rename(path_, previous))
        QFile::remove(path_); // a file that cannot be moved aside starts over rather than grow
    midLine_ = false;
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
