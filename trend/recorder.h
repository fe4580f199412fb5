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

    explicit Recorder(QObject *parent = nullptr);

    void watch(int link, const modbus::LinkPoll &poll);
    void record(int link, int slot, const modbus::SlotResult &result);

    const SeriesStore &store() const { return store_; }
    void setClock(Clock clock) { clock_ = std::move(clock); }
    std::int64_t now() const { return clock_(); }

private:
    SeriesStore store_;
    Clock clock_;
};

} // namespace trend
