#include "recorder.h"

#include "poll.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <cstdlib>
#include <memory>

namespace trend {

Recorder::Recorder(QObject *parent)
    : QObject(parent)
    , wall_([] { return QDateTime::currentMSecsSinceEpoch(); }) {
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    steady_ = [start = wall_(), elapsed] { return start + elapsed->elapsed(); };
}

void Recorder::setClocks(Clock wall, Clock steady) {
    wall_ = std::move(wall);
    steady_ = std::move(steady);
    lastOffset_.reset();
}

void Recorder::watch(int link, const modbus::LinkPoll &poll) {
    connect(
        &poll, &modbus::LinkPoll::slotFinished, this,
        [this, link](int slot, const modbus::SlotResult &result) { record(link, slot, result); });
}

void Recorder::record(int link, int slot, const modbus::SlotResult &result) {
    const std::int64_t ms = steady_();
    const std::int64_t wall = wall_();
    // The wall clock was set: every line breaks there, so that nothing is drawn across the step.
    if (lastOffset_ && std::llabs(wall - ms - *lastOffset_) > clockStepMs)
        for (int l = 0; l < store_.limits().links; ++l)
            for (int s = 0; s < store_.limits().slotsPerLink; ++s)
                store_.recordGap(l, s, ms, wall);
    lastOffset_ = wall - ms;
    if (result.outcome == modbus::SlotOutcome::Valid)
        store_.recordValues(link, slot, ms, result.request.slave, result.request.start,
                            result.registers, wall);
    else
        store_.recordGap(link, slot, ms, wall);
}

} // namespace trend
