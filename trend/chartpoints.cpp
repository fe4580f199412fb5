#include "chartpoints.h"

#include <algorithm>

namespace trend {

std::vector<std::span<const Sample>> splitRuns(std::span<const Sample> samples) {
    std::vector<std::span<const Sample>> runs;
    const auto isGap = [](const Sample &s) { return s.isGap(); };
    for (auto run = samples.begin(); run != samples.end();) {
        run = std::find_if_not(run, samples.end(), isGap);
        const auto last = std::find_if(run, samples.end(), isGap);
        if (run != last)
            runs.emplace_back(run, last);
        run = last;
    }
    return runs;
}

void thinRun(std::span<const Sample> run, std::int64_t columnMs, std::vector<Sample> &out) {
    columnMs = std::max<std::int64_t>(1, columnMs);
    for (auto s = run.begin(); s != run.end();) {
        const std::int64_t column = s->ms / columnMs;
        auto min = s, max = s;
        for (; s != run.end() && s->ms / columnMs == column; ++s) {
            min = s->value < min->value ? s : min;
            max = s->value > max->value ? s : max;
        }
        out.push_back(*std::min(min, max));
        if (min != max)
            out.push_back(*std::max(min, max));
    }
}

std::optional<ValueRange> valueAxisRange(float low, float high) {
    if (low > high)
        return std::nullopt;
    const double margin = std::max(1.0, 0.05 * (double(high) - double(low)));
    return ValueRange{std::max(0.0, double(low) - margin), double(high) + margin};
}

} // namespace trend
