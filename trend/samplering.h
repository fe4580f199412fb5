#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace trend {

// One reading of a register. Its time `ms` is on the station's steady clock (milliseconds, near
// the epoch), which orders the readings and never steps; the wall clock's time of the reading is
// kept beside it for what the operator reads. A gap has no value: the register was not read
// then, or the wall clock stepped, and a line drawn through the samples breaks there.
struct Sample {
    std::int64_t ms = 0;
    float value = 0;             // NaN marks a gap; every 16-bit register value is exact in a float
    std::int32_t wallOffset = 0; // wall-clock time minus ms (steps of up to 24 days)
    bool isGap() const { return std::isnan(value); }
    std::int64_t wallMs() const { return ms + wallOffset; }
};

// The newest samples of one series, at most `capacity`; once full the oldest is overwritten.
// Storage grows with the samples up to the capacity and never past it.
class SampleRing {
public:
    explicit SampleRing(std::size_t capacity)
        : capacity_(capacity) {}

    void push(Sample sample);
    std::size_t size() const { return samples_.size(); }
    std::size_t capacity() const { return capacity_; }
    std::size_t bytes() const { return samples_.capacity() * sizeof(Sample); }
    // Oldest first.
    const Sample &at(std::size_t i) const { return samples_[(head_ + i) % samples_.size()]; }
    const Sample *newest() const { return size() ? &at(size() - 1) : nullptr; }
    // The samples at or after fromMs, oldest first.
    std::vector<Sample> since(std::int64_t fromMs) const;

private:
    std::size_t capacity_;
    std::vector<Sample> samples_;
    std::size_t head_ = 0; // index of the oldest sample once full
};

} // namespace trend
