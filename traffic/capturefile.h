#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

namespace traffic {

// Lines appended to a file off the poll's path: append() only adds to a buffer in memory, and a
// timer writes it out in small bounded pieces at least once a second. The file is rotated at a
// size limit, the previous one kept as FILE.1. Nothing here waits: the file is opened and
// written without blocking, so a FIFO without a reader, a full pipe or a device that cannot
// take a line now drops the lines and counts them, as does a file that cannot be opened or
// written (full disk, no permission); they are never retried. A file removed or renamed under
// the station is noticed at the next write and a new one begun; one truncated by someone else
// is counted from its new size.
class CaptureFile : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 defaultSizeLimit = 10 * 1024 * 1024;
    static constexpr qsizetype bufferLimit = 1024 * 1024;
    static constexpr qsizetype writeLimit = 64 * 1024;
    static constexpr int flushIntervalMs = 500;

    explicit CaptureFile(QString path, qint64 sizeLimit = defaultSizeLimit,
                         QObject *parent = nullptr);
    ~CaptureFile() override;

    QString path() const { return path_; }
    // Takes one line ending in a line feed.
    void append(const QByteArray &line);
    // Writes what the buffer holds, in bounded pieces; also run by the timer.
    void flush();

    quint64 writtenLines() const { return written_; }
    quint64 droppedLines() const { return dropped_; }
    QString dropReason() const { return reason_; }

signals:
    void dropsChanged();

private:
    bool ensureOpen();
    void closeFile();
    // The open file is still the one the path names, and its size is known afresh.
    bool stillThere();
    bool rotateIfFull(qsizetype incoming);
    void drop(qsizetype lines, const QString &reason);
    void writeSome();

    QString path_;
    QByteArray encodedPath_;
    qint64 sizeLimit_;
    int fd_ = -1;
    bool regular_ = false; // a plain file: rotated, and its size counted
    QString openError_;
    qint64 size_ = 0;
    bool midLine_ = false; // a failed write left a partial line in the file
    QByteArray pending_;
    QTimer timer_;
    quint64 written_ = 0;
    quint64 dropped_ = 0;
    QString reason_;
};

} // namespace traffic
