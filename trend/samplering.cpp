#include "samplering.h"

#include <algorithm>

namespace trend {

void SampleRing::push(Sample sample) {
    if (capacity_ == 0)
        return;
    // A clock set back must not break the order the queries rely on.
    if (const Sample *last = newest(); last && sample.ms < last->ms)
        sample.ms = last->ms;
    if (samples_.size() < capacity_) {
        // Grow in steps, but never reserve past the capacity.
        if (samples_.size() == samples_.capacity())
            samples_.reserve(std::min(capacity_, std::max<std::size_t>(64, 2 * samples_.size())));
        samples_.push_back(sample);
        return;
    }
    samples_[head_] = sample;
    head_ = (head_ + 1) % capacity_;
}

std::vector<Sample> SampleRing::since(std::int64_t fromMs) const {
    // Times only grow, so the first sample in range is found by bisection.
    std::size_t lo = 0, hi = size();
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (at(mid).ms < fromMs)
            lo = mid + 1;
        else
            hi = mid;
    }
    std::vector<Sample> out;
    out.reserve(size() - lo);
    for (std::size_t i = lo; i < size(); ++i)
        out.push_back(at(i));
    return out;
}

} // namespace trend
