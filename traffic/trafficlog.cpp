#include "trafficlog.h"

#include <algorithm>

namespace traffic {

using modbus::FrameVerdict;

bool TrafficLog::isStray(const modbus::FrameRecord &frame) {
    return frame.verdict == FrameVerdict::Noise || frame.verdict == FrameVerdict::Late;
}

TrafficLog::TrafficLog(qsizetype capacity)
    : capacity_(std::max<qsizetype>(capacity, 1)) {}

bool TrafficLog::mergesInto(const modbus::FrameRecord &frame, int link) const {
    const auto &open = openStray_[std::size_t(link)];
    if (!isStray(frame) || !open || *open < firstSeq())
        return false;
    const modbus::FrameRecord &row = at(*open).frame;
    return row.verdict == frame.verdict && row.slot == frame.slot &&
           frame.monoMicros - strayEndMicros_[std::size_t(link)] < burstGapMicros;
}

quint64 TrafficLog::append(modbus::FrameRecord frame) {
    const int link = std::clamp(frame.link, 0, 1);
    if (!origin_)
        origin_ = frame.monoMicros;
    if (mergesInto(frame, link)) {
        const quint64 seq = *openStray_[std::size_t(link)];
        TrafficEntry &row = entries_[std::size_t(seq - firstSeq())];
        row.byteCount += frame.bytes.size();
        row.frame.pieces += frame.pieces;
        const qsizetype room = keptNoiseBytes - row.frame.bytes.size();
        if (room > 0)
            row.frame.bytes += frame.bytes.left(room);
        strayEndMicros_[std::size_t(link)] = frame.monoMicros;
        // Only the open noise rows grow: a handful, kept bounded for a log nobody reads.
        if (std::find(grown_.begin(), grown_.end(), seq) == grown_.end()) {
            if (grown_.size() >= 16)
                grown_.erase(grown_.begin());
            grown_.push_back(seq);
        }
        return seq;
    }
    const qsizetype byteCount = frame.bytes.size();
    if (isStray(frame)) {
        frame.bytes.truncate(keptNoiseBytes);
        openStray_[std::size_t(link)] = endSeq_;
        strayEndMicros_[std::size_t(link)] = frame.monoMicros;
    } else {
        openStray_[std::size_t(link)].reset();
    }
    entries_.push_back({std::move(frame), byteCount});
    // Trimmed a batch at a time, so that a view removes rows now and then rather than each time.
    if (size() >= capacity_ + std::max<qsizetype>(capacity_ / 100, 1))
        entries_.erase(entries_.begin(), entries_.begin() + (size() - capacity_));
    return endSeq_++;
}

void TrafficLog::clear() {
    entries_.clear(); // sequences go on, so a reader sees every earlier row gone
    origin_.reset();
    openStray_ = {};
    grown_.clear();
}

std::vector<quint64> TrafficLog::takeGrown() {
    return std::exchange(grown_, {});
}

} // namespace traffic
