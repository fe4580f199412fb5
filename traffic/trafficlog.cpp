#include "trafficlog.h"

#include <algorithm>

namespace traffic {

using modbus::FrameVerdict;

TrafficLog::TrafficLog(qsizetype capacity)
    : capacity_(std::max<qsizetype>(capacity, 1)) {}

bool TrafficLog::mergesInto(const modbus::FrameRecord &frame, int link) const {
    const auto &open = openNoise_[std::size_t(link)];
    return frame.verdict == FrameVerdict::Noise && open && *open >= firstSeq() &&
           frame.monoMicros - noiseEndMicros_[std::size_t(link)] < burstGapMicros;
}

quint64 TrafficLog::append(modbus::FrameRecord frame) {
    const int link = std::clamp(frame.link, 0, 1);
    if (!origin_)
        origin_ = frame.monoMicros;
    if (mergesInto(frame, link)) {
        const quint64 seq = *openNoise_[std::size_t(link)];
        TrafficEntry &row = entries_[std::size_t(seq - firstSeq())];
        row.byteCount += frame.bytes.size();
        row.frame.pieces += frame.pieces;
        const qsizetype room = keptNoiseBytes - row.frame.bytes.size();
        if (room > 0)
            row.frame.bytes += frame.bytes.left(room);
        noiseEndMicros_[std::size_t(link)] = frame.monoMicros;
        // Only the open noise rows grow: a handful, kept bounded for a log nobody reads.
        if (std::find(grown_.begin(), grown_.end(), seq) == grown_.end()) {
            if (grown_.size() >= 16)
                grown_.erase(grown_.begin());
            grown_.push_back(seq);
        }
        return seq;
    }
    const qsizetype byteCount = frame.bytes.size();
    if (frame.verdict == FrameVerdict::Noise) {
        frame.bytes.truncate(keptNoiseBytes);
        openNoise_[std::size_t(link)] = endSeq_;
        noiseEndMicros_[std::size_t(link)] = frame.monoMicros;
    } else {
        openNoise_[std::size_t(link)].reset();
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
    openNoise_ = {};
    grown_.clear();
}

std::vector<quint64> TrafficLog::takeGrown() {
    return std::exchange(grown_, {});
}

} // namespace traffic
