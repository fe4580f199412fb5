#pragma once

#include "seriesstore.h"

#include <QObject>
#include <functional>

namespace modbus {
class LinkPoll;
struct SlotResult;
} // namespace modbus

namespace trend {

// Keeps every reading the polls put into the grid, with its time, in a series store.
class Recorder : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<std::int64_t()>; // milliseconds since the epoch
    // A wall-clock step larger than this breaks every line.
    static constexpr std::int64_t clockStepMs = 1000;

    explicit Recorder(QObject *parent = nullptr);

    void watch(int link, const modbus::LinkPoll &poll);
    void record(int link, int slot, const modbus::SlotResult &result);

    const SeriesStore &store() const { return store_; }
    // One clock for both the wall clock and the steady one.
    void setClock(const Clock &clock) { setClocks(clock, clock); }
    // The wall clock labels readings; the steady clock (by default the wall clock's time at
    // start plus the time elapsed since, which never steps) orders them.
    void setClocks(Clock wall, Clock steady);
    // On the steady clock, as the samples' times.
    std::int64_t now() const { return steady_(); }
    std::int64_t wallNow() const { return wall_(); }

private:
    SeriesStore store_;
    Clock wall_;
    Clock steady_;
    std::optional<std::int64_t> lastOffset_; // wall minus steady at the last reading
};

} // namespace trend
