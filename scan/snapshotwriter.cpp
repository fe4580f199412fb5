#include "snapshotwriter.h"

#include "snapshot.h"

#include <QDeadlineTimer>
#include <QThread>

namespace scan {

namespace {

// Runs on the writer's thread; tells of each write's end by a signal, which reaches the writer
// on its own thread, and not at all once the writer is gone.
class WriteWorker : public QObject {
    Q_OBJECT
signals:
    void done(bool failed, const QString &why);
};

} // namespace

SnapshotWriter::SnapshotWriter(QString path, WriteFunction write, int stuckMs, QObject *parent)
    : QObject(parent)
    , path_(std::move(path))
    , write_(write ? std::move(write) : WriteFunction(writeSnapshotFile))
    , thread_(new QThread)
    , worker_(new WriteWorker) {
    thread_->setObjectName(QStringLiteral("snapshot writer"));
    worker_->moveToThread(thread_);
    connect(static_cast<WriteWorker *>(worker_), &WriteWorker::done, this,
            [this](bool failed, const QString &why) {
                ended(failed ? std::optional(why) : std::nullopt);
            });
    stuck_.setSingleShot(true);
    stuck_.setInterval(stuckMs);
    connect(&stuck_, &QTimer::timeout, this, [this, stuckMs] {
        emit stuck(QStringLiteral("the write has not ended after %1 s; the disk does not answer")
                       .arg(stuckMs / 1000.0));
    });
    thread_->start();
    // Left by writes that a kill cut short; queued before any write.
    QMetaObject::invokeMethod(worker_, [path = path_] { removeSnapshotTemporaries(path); });
}

SnapshotWriter::~SnapshotWriter() {
    disconnect(worker_, nullptr, this, nullptr);
    thread_->quit();
    // A write the disk holds up may never end; the program does not wait for it at exit, and
    // the thread and its worker are then left to the end of the process.
    if (thread_->wait(QDeadlineTimer(2000))) {
        delete worker_;
        delete thread_;
    }
}

void SnapshotWriter::write(const QString &line) {
    if (busy_)
        next_ = line; // an older waiting line is dropped: only the newest matters
    else
        begin(line);
}

void SnapshotWriter::begin(const QString &line) {
    busy_ = true;
    stuck_.start();
    auto *worker = static_cast<WriteWorker *>(worker_);
    QMetaObject::invokeMethod(worker, [worker, write = write_, path = path_, line] {
        const auto failure = write(path, line);
        emit worker->done(failure.has_value(), failure.value_or(QString()));
    });
}

void SnapshotWriter::ended(const std::optional<QString> &failure) {
    busy_ = false;
    stuck_.stop();
    emit written(failure);
    if (next_) {
        const QString line = *std::exchange(next_, std::nullopt);
        begin(line);
    }
}

} // namespace scan

#include "snapshotwriter.moc"
