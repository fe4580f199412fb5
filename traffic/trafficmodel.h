#pragma once

#include "trafficlog.h"

#include <QAbstractTableModel>
#include <QTimer>
#include <deque>
#include <optional>

namespace traffic {

class Traffic;

// The log as a table, filtered by link and slave. New rows come in batches, at most one a second:
// each insertion repaints the visible rows (a few ms of text layout), so a busy line costs one
// repaint a second, never a reset; while paused the table holds still
// (rows that fall out of the log still go).
class TrafficModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Time, Offset, Link, Direction, Slave, Bytes, Pieces, Silence, Verdict, Columns };
    static constexpr int batchMs = 1000;

    explicit TrafficModel(Traffic &traffic, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // No value: every link or slave.
    void setFilter(std::optional<int> link, std::optional<int> slave);
    std::optional<int> linkFilter() const { return link_; }
    std::optional<int> slaveFilter() const { return slave_; }
    void setPaused(bool paused);
    bool isPaused() const { return paused_; }
    // Frames logged since the pause that the table does not show yet.
    quint64 heldBack() const;
    // Empties the log and the table.
    void clear();
    // Takes in what the log gained; the batch timer runs it.
    void sync();

    const TrafficEntry &entry(int row) const;
    // The rows as capture-file lines.
    QByteArray lines(const std::vector<int> &rows) const;

signals:
    void heldBackChanged();

private:
    bool accepts(const modbus::FrameRecord &frame) const;
    void rebuild();
    std::optional<int> rowOf(quint64 seq) const;

    Traffic &traffic_;
    TrafficLog &log_;
    std::deque<quint64> rows_; // sequences of the shown rows, oldest first
    quint64 seenEnd_ = 0;      // sequences below this have been offered to the filter
    std::optional<int> link_, slave_;
    bool paused_ = false;
    QTimer batch_;
};

} // namespace traffic
