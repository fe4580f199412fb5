#pragma once

#include <QString>
#include <vector>

namespace bench {

// Nearest-rank percentile (0..100) of the samples; 0 when there are none.
double percentile(std::vector<double> samples, double p);

inline double median(const std::vector<double> &samples) {
    return percentile(samples, 50);
}

// One line of a figure table: name, then the numbers in fixed-width columns.
void printRow(const QString &name, const std::vector<double> &numbers, int decimals = 3);

} // namespace bench
