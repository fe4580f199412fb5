#include "trafficmodel.h"

#include "frametext.h"
#include "traffic.h"

#include <QBrush>
#include <QFont>
#include <algorithm>

namespace traffic {

using modbus::FrameVerdict;

namespace {

QColor verdictColour(FrameVerdict verdict) {
    switch (verdict) {
    case FrameVerdict::Request:
        return QColor(0xE8, 0xF0, 0xFF);
    case FrameVerdict::Valid:
        return QColor(0xE0, 0xF5, 0xE0);
    case FrameVerdict::Exception:
        return QColor(0xFF, 0xE6, 0xC4);
    case FrameVerdict::BadCrc:
    case FrameVerdict::WrongSlave:
    case FrameVerdict::WrongLength:
        return QColor(0xFF, 0xD8, 0xD8);
    case FrameVerdict::Noise:
        return QColor(0xEC, 0xDC, 0xFF);
    case FrameVerdict::Late:
        return QColor(0xFF, 0xF4, 0xB8);
    case FrameVerdict::Echo:
        return QColor(0xEA, 0xEA, 0xEA);
    case FrameVerdict::TimeOut:
    case FrameVerdict::LineBusy:
        return QColor(0xFF, 0xB4, 0xB4);
    case FrameVerdict::Link:
        return QColor(0xD0, 0xE8, 0xF0);
    }
    return {};
}

QString slaveText(const modbus::FrameRecord &frame) {
    if (frame.slave < 0)
        return QStringLiteral("-");
    if (frame.slot < 0)
        return QString::number(frame.slave);
    return QStringLiteral("%1 (slot %2)").arg(frame.slave).arg(frame.slot);
}

QString verdictText(const TrafficEntry &entry) {
    const QString detail = verdictDetail(entry.frame, entry.byteCount);
    const QString name = verdictName(entry.frame.verdict);
    return detail.isEmpty() ? name : name + QStringLiteral(": ") + detail;
}

} // namespace

TrafficModel::TrafficModel(Traffic &traffic, QObject *parent)
    : QAbstractTableModel(parent)
    , traffic_(traffic)
    , log_(traffic.log())
    , seenEnd_(traffic.log().firstSeq()) {
    batch_.setSingleShot(true);
    batch_.setInterval(batchMs);
    connect(&batch_, &QTimer::timeout, this, &TrafficModel::sync);
    connect(&traffic_, &Traffic::recorded, this, [this] {
        if (!batch_.isActive())
            batch_.start();
    });
    sync();
}

int TrafficModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int TrafficModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : Columns;
}

const TrafficEntry &TrafficModel::entry(int row) const {
    return log_.at(rows_[std::size_t(row)]);
}

QVariant TrafficModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TrafficEntry &e = entry(index.row());
    const modbus::FrameRecord &f = e.frame;
    const bool shortSilence = index.column() == Silence && silenceTooShort(f);
    switch (role) {
    case Qt::DisplayRole:
        switch (Column(index.column())) {
        case Time:
            return wallTime(f.wallMicros);
        case Offset:
            return millis(f.monoMicros - log_.originMicros());
        case Link:
            return f.link;
        case Direction:
            return directionText(f);
        case Slave:
            return slaveText(f);
        case Bytes:
            return hexBytes(f.bytes);
        case Pieces:
            return f.pieces;
        case Silence:
            return millis(f.silenceMicros);
        case Verdict:
            return verdictText(e);
        case Columns:
            break;
        }
        break;
    case Qt::BackgroundRole:
        return QBrush(verdictColour(f.verdict));
    case Qt::ForegroundRole:
        return shortSilence ? QVariant(QBrush(Qt::red)) : QVariant();
    case Qt::FontRole:
        if (shortSilence) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        break;
    case Qt::ToolTipRole:
        if (shortSilence)
            return QStringLiteral("%1 ms of silence before this frame: under 3.5 characters "
                                  "(%2 ms), so a slave may read it as part of the frame before")
                .arg(millis(f.silenceMicros), QString::number(interFrameMicros / 1000.0));
        if (index.column() == Bytes)
            return hexBytes(f.bytes);
        if (index.column() == Verdict)
            return verdictText(e);
        break;
    case Qt::TextAlignmentRole:
        if (index.column() == Offset || index.column() == Silence || index.column() == Pieces)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
    }
    return {};
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char *const names[Columns] = {
        "Time", "Offset ms", "Link", "Dir", "Slave", "Bytes", "Pieces", "Silence ms", "Verdict"};
    return section >= 0 && section < Columns ? QString::fromLatin1(names[section]) : QVariant();
}

bool TrafficModel::accepts(const modbus::FrameRecord &frame) const {
    return (!link_ || frame.link == *link_) && (!slave_ || frame.slave == *slave_);
}

void TrafficModel::setFilter(std::optional<int> link, std::optional<int> slave) {
    if (link == link_ && slave == slave_)
        return;
    link_ = link;
    slave_ = slave;
    rebuild();
}

void TrafficModel::rebuild() {
    beginResetModel();
    rows_.clear();
    for (quint64 seq = log_.firstSeq(); seq < seenEnd_; ++seq)
        if (accepts(log_.at(seq).frame))
            rows_.push_back(seq);
    log_.takeGrown();
    endResetModel();
}

void TrafficModel::setPaused(bool paused) {
    paused_ = paused;
    if (!paused_)
        sync();
    emit heldBackChanged();
}

quint64 TrafficModel::heldBack() const {
    return paused_ ? log_.endSeq() - std::max(seenEnd_, log_.firstSeq()) : 0;
}

void TrafficModel::clear() {
    traffic_.log().clear();
    seenEnd_ = log_.endSeq();
    beginResetModel();
    rows_.clear();
    endResetModel();
    emit heldBackChanged();
}

std::optional<int> TrafficModel::rowOf(quint64 seq) const {
    const auto it = std::lower_bound(rows_.begin(), rows_.end(), seq);
    if (it == rows_.end() || *it != seq)
        return std::nullopt;
    return int(it - rows_.begin());
}

void TrafficModel::sync() {
    // Rows that fell out of the log go first, in one removal.
    const auto gone = std::lower_bound(rows_.begin(), rows_.end(), log_.firstSeq());
    if (gone != rows_.begin()) {
        beginRemoveRows({}, 0, int(gone - rows_.begin()) - 1);
        rows_.erase(rows_.begin(), gone);
        endRemoveRows();
    }
    for (quint64 seq : log_.takeGrown())
        if (const auto row = rowOf(seq))
            emit dataChanged(index(*row, 0), index(*row, Columns - 1));
    if (paused_) {
        emit heldBackChanged();
        return;
    }
    std::vector<quint64> fresh;
    for (quint64 seq = std::max(seenEnd_, log_.firstSeq()); seq < log_.endSeq(); ++seq)
        if (accepts(log_.at(seq).frame))
            fresh.push_back(seq);
    seenEnd_ = log_.endSeq();
    if (fresh.empty())
        return;
    beginInsertRows({}, rowCount(), rowCount() + int(fresh.size()) - 1);
    rows_.insert(rows_.end(), fresh.begin(), fresh.end());
    endInsertRows();
}

QByteArray TrafficModel::lines(const std::vector<int> &rows) const {
    QByteArray text;
    for (int row : rows) {
        const TrafficEntry &e = entry(row);
        text += captureLine(e.frame, e.byteCount);
    }
    return text;
}

} // namespace traffic
