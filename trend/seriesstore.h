#pragma once

#include "samplering.h"
#include "stationshape.h"

#include <compare>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace trend {

// A register of a slave on a link. A cell of the grid shows the series of whatever its slot and
// row ask for now; when the slave or start address changes, the cell moves on to another series.
struct SeriesKey {
    int link = 0;
    int slave = 0;
    int address = 0;
    friend auto operator<=>(const SeriesKey &, const SeriesKey &) = default;
};

struct StoreLimits {
    int links = modbus::linkCount;
    int slotsPerLink = modbus::slotCount;
    int rows = 14;                        // registers of a slot that reach the grid
    std::size_t samplesPerSeries = 7200;  // an hour at two readings a second
    std::int64_t keepMs = 60 * 60 * 1000; // a series not read for this long is dropped
    // twice the cells, for address changes
    std::size_t maxSeries = 2 * modbus::linkCount * modbus::slotCount * 14;
};

// Every reading of every cell, per series, for the last hour. Plain data, no Qt.
class SeriesStore {
public:
    explicit SeriesStore(StoreLimits limits = {});

    // A slot's valid reply: registers start, start+1, ... read from `slave` at `ms` (steady
    // clock), `wallMs` on the wall clock (`ms` when not given).
    void recordValues(int link, int slot, std::int64_t ms, int slave, int start,
                      std::span<const std::uint16_t> registers,
                      std::optional<std::int64_t> wallMs = std::nullopt);
    // A slot's turn without values: each of its series gets a gap at `ms`.
    void recordGap(int link, int slot, std::int64_t ms,
                   std::optional<std::int64_t> wallMs = std::nullopt);

    // The series a cell shows now (row 1 is the first register), if it has shown one.
    std::optional<SeriesKey> seriesAt(int link, int slot, int row) const;
    // The samples of a series at or after fromMs, oldest first; empty for an unknown series.
    std::vector<Sample> samples(const SeriesKey &key, std::int64_t fromMs) const;

    // Grows with every reading or gap recorded: a reader with the same revision has seen it all.
    std::uint64_t revision() const { return revision_; }
    std::size_t seriesCount() const { return series_.size(); }
    std::size_t bytes() const; // sample storage held
    const StoreLimits &limits() const { return limits_; }

private:
    int cellIndex(int link, int slot, int row) const;
    SampleRing &ringFor(const SeriesKey &key, std::int64_t ms);
    void dropStale(std::int64_t ms);

    StoreLimits limits_;
    std::map<SeriesKey, SampleRing> series_;
    std::vector<std::optional<SeriesKey>> cells_; // link, slot, row -> series shown there
    std::uint64_t revision_ = 0;
};

} // namespace trend
