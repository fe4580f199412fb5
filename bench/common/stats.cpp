#include "stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace bench {

double percentile(std::vector<double> samples, double p) {
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * double(samples.size())));
    return samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1];
}

void printRow(const QString &name, const std::vector<double> &numbers, int decimals) {
    std::printf("  %-22s", qPrintable(name));
    for (double n : numbers)
        std::printf(" %12.*f", decimals, n);
    std::printf("\n");
}

} // namespace bench
