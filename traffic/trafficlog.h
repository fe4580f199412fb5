#pragma once

#include "framerecord.h"
#include "stationshape.h"

#include <array>
#include <deque>
#include <optional>

namespace traffic {

// One row of the log: a frame, or a burst of noise merged into one.
struct TrafficEntry {
    modbus::FrameRecord frame;
    qsizetype byteCount = 0; // bytes on the line; frame.bytes may keep only the first of them
};

// The last frames of both links of a station, oldest first, in a bounded ring. Rows are numbered
// by sequence from the first frame ever logged, so a reader can tell which ones are new and which
// have fallen out. Stray input (noise, or late bytes) that follows stray input of the same kind
// and slot on one link, with nothing else on that link between and no long quiet, goes into the
// same row with its byte count: a babbling slave takes one row per burst.
class TrafficLog {
public:
    static constexpr qsizetype defaultCapacity = 10000;
    static constexpr qsizetype keptNoiseBytes = 256;
    static constexpr qint64 burstGapMicros = 1000000;

    explicit TrafficLog(qsizetype capacity = defaultCapacity);

    // Logs a frame whose link is set (0 or 1). Returns the sequence of the row it went into.
    quint64 append(modbus::FrameRecord frame);
    void clear();

    // Rows are [firstSeq, endSeq). The oldest go in batches of a hundredth of the capacity.
    quint64 firstSeq() const { return endSeq_ - entries_.size(); }
    quint64 endSeq() const { return endSeq_; }
    qsizetype size() const { return qsizetype(entries_.size()); }
    const TrafficEntry &at(quint64 seq) const { return entries_[std::size_t(seq - firstSeq())]; }
    // Monotonic time of the first frame since the log was made or cleared.
    qint64 originMicros() const { return origin_.value_or(0); }
    // The rows that took merged noise since the last call, oldest first.
    std::vector<quint64> takeGrown();

private:
    static bool isStray(const modbus::FrameRecord &frame);
    bool mergesInto(const modbus::FrameRecord &frame, int link) const;

    qsizetype capacity_;
    std::deque<TrafficEntry> entries_;
    quint64 endSeq_ = 0;
    std::optional<qint64> origin_;
    // Per link: the stray-input row still taking bytes, and when its last bytes came.
    std::array<std::optional<quint64>, modbus::linkCount> openStray_{};
    std::array<qint64, modbus::linkCount> strayEndMicros_{};
    std::vector<quint64> grown_;
};

} // namespace traffic
