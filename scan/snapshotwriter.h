#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

class QThread;

namespace scan {

// Writes one line to the file; why it failed, or nothing.
using WriteFunction =
    std::function<std::optional<QString>(const QString &path, const QString &line)>;

// Writes snapshot lines to the file on a thread of its own, so that no cycle waits on the disk.
// One write at a time: lines that come while a write is under way wait behind it, and only the
// newest of them is written next. Before the first write it clears away the temporary files of
// earlier runs.
class SnapshotWriter : public QObject {
    Q_OBJECT
public:
    static constexpr int defaultStuckMs = 5000;

    // An empty `write` is writeSnapshotFile.
    explicit SnapshotWriter(QString path, WriteFunction write = {}, int stuckMs = defaultStuckMs,
                            QObject *parent = nullptr);
    ~SnapshotWriter() override;

    QString path() const { return path_; }
    void write(const QString &line);

signals:
    // A write has ended: why it failed, or nothing.
    void written(const std::optional<QString> &failure);
    // The write under way has not ended within the limit.
    void stuck(const QString &why);

private:
    void begin(const QString &line);
    void ended(const std::optional<QString> &failure);

    QString path_;
    WriteFunction write_;
    QThread *thread_;
    QObject *worker_; // lives on thread_, runs the writes there
    QTimer stuck_;
    bool busy_ = false;
    std::optional<QString> next_;
};

} // namespace scan
