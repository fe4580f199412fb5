#include "seriesstore.h"

#include <algorithm>
#include <limits>

namespace trend {

SeriesStore::SeriesStore(StoreLimits limits)
    : limits_(limits)
    , cells_(std::size_t(limits.links * limits.slotsPerLink * limits.rows)) {}

int SeriesStore::cellIndex(int link, int slot, int row) const {
    if (link < 0 || link >= limits_.links || slot < 0 || slot >= limits_.slotsPerLink || row < 1 ||
        row > limits_.rows)
        return -1;
    return (link * limits_.slotsPerLink + slot) * limits_.rows + row - 1;
}

namespace {

std::int32_t wallOffset(std::int64_t ms, std::optional<std::int64_t> wallMs) {
    const std::int64_t offset = wallMs.value_or(ms) - ms;
    return std::int32_t(std::clamp<std::int64_t>(offset, std::numeric_limits<std::int32_t>::min(),
                                                 std::numeric_limits<std::int32_t>::max()));
}

constexpr float gapValue = std::numeric_limits<float>::quiet_NaN();

} // namespace

void SeriesStore::recordValues(int link, int slot, std::int64_t ms, int slave, int start,
                               std::span<const std::uint16_t> registers,
                               std::optional<std::int64_t> wallMs) {
    if (cellIndex(link, slot, 1) < 0)
        return;
    const std::int32_t offset = wallOffset(ms, wallMs);
    ++revision_;
    const int shown = std::min<int>(int(registers.size()), limits_.rows);
    std::vector<std::optional<SeriesKey>> next(std::size_t(limits_.rows));
    for (int row = 1; row <= shown; ++row)
        next[std::size_t(row - 1)] = SeriesKey{link, slave, start + row - 1};
    // A series the slot no longer reads ends with a gap; one it still reads in another row (the
    // start address moved by less than the block) goes on.
    for (int row = 1; row <= limits_.rows; ++row) {
        auto &current = cells_[std::size_t(cellIndex(link, slot, row))];
        if (current && std::find(next.begin(), next.end(), current) == next.end())
            ringFor(*current, ms).push({ms, gapValue, offset});
        current = next[std::size_t(row - 1)];
    }
    for (int row = 1; row <= shown; ++row)
        ringFor(*next[std::size_t(row - 1)], ms)
            .push({ms, float(registers[std::size_t(row - 1)]), offset});
}

void SeriesStore::recordGap(int link, int slot, std::int64_t ms,
                            std::optional<std::int64_t> wallMs) {
    ++revision_;
    for (int row = 1; row <= limits_.rows; ++row) {
        const int cell = cellIndex(link, slot, row);
        if (cell < 0 || !cells_[std::size_t(cell)])
            continue;
        SampleRing &ring = ringFor(*cells_[std::size_t(cell)], ms);
        // One marker per outage is enough to break the line.
        if (const Sample *last = ring.newest(); !last || !last->isGap())
            ring.push({ms, gapValue, wallOffset(ms, wallMs)});
    }
}

SampleRing &SeriesStore::ringFor(const SeriesKey &key, std::int64_t ms) {
    if (auto it = series_.find(key); it != series_.end())
        return it->second;
    dropStale(ms);
    return series_.try_emplace(key, limits_.samplesPerSeries).first->second;
}

// Runs only when a series is born, which is rare: at start-up and on a change of address.
void SeriesStore::dropStale(std::int64_t ms) {
    const auto lastRead = [](const SampleRing &ring) {
        const Sample *last = ring.newest();
        return last ? last->ms : std::numeric_limits<std::int64_t>::min();
    };
    std::erase_if(series_,
                  [&](const auto &entry) { return lastRead(entry.second) < ms - limits_.keepMs; });
    while (!series_.empty() && series_.size() >= limits_.maxSeries) {
        auto oldest = std::min_element(series_.begin(), series_.end(), [&](auto &a, auto &b) {
            return lastRead(a.second) < lastRead(b.second);
        });
        series_.erase(oldest);
    }
}

std::optional<SeriesKey> SeriesStore::seriesAt(int link, int slot, int row) const {
    const int cell = cellIndex(link, slot, row);
    return cell < 0 ? std::nullopt : cells_[std::size_t(cell)];
}

std::vector<Sample> SeriesStore::samples(const SeriesKey &key, std::int64_t fromMs) const {
    const auto it = series_.find(key);
    return it == series_.end() ? std::vector<Sample>{} : it->second.since(fromMs);
}

std::size_t SeriesStore::bytes() const {
    std::size_t total = 0;
    for (const auto &[key, ring] : series_)
        total += ring.bytes();
    return total;
}

} // namespace trend
