#pragma once

#include "seriesstore.h"

#include <QString>
#include <vector>

namespace trend {

struct ShownSeries {
    SeriesKey key;
    std::vector<Sample> samples;
};

// Long format, one sample a line, series after series:
//   time,link,slave,register,value
//   2026-12-08T21:40:01.250+01:00,0,2,1142,412
// The time is local with its offset; a gap has an empty value. Lines end in CR LF.
QString trendCsv(const std::vector<ShownSeries> &series);

} // namespace trend
