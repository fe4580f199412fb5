#pragma once

#include "samplering.h"

#include <optional>
#include <span>
#include <vector>

namespace trend {

// The runs of readings between gaps, oldest first. A line breaks at every gap, so each run is
// drawn as a line of its own; gaps themselves belong to no run.
std::vector<std::span<const Sample>> splitRuns(std::span<const Sample> samples);

// More readings than pixel columns cost drawing time and show nothing more: of the run's readings
// in each column of `columnMs` (time / columnMs), the lowest and the highest are appended to
// `out`, in their order; one reading when it is both.
void thinRun(std::span<const Sample> run, std::int64_t columnMs, std::vector<Sample> &out);

struct ValueRange {
    double low = 0;
    double high = 0;
};

// The value axis over readings from `low` to `high`: a margin of 5 % of the spread, at least 1,
// on either side. Registers hold no negative numbers, so it starts at 0 at the lowest. None when
// there are no readings (low above high).
std::optional<ValueRange> valueAxisRange(float low, float high);

} // namespace trend
