#include "recorder.h"

#include "poll.h"

#include <QDateTime>

namespace trend {

Recorder::Recorder(QObject *parent)
    : QObject(parent)
    , clock_([] { return QDateTime::currentMSecsSinceEpoch(); }) {}

void Recorder::watch(int link, const modbus::LinkPoll &poll) {
    connect(
        &poll, &modbus::LinkPoll::slotFinished, this,
        [this, link](int slot, const modbus::SlotResult &result) { record(link, slot, result); });
}

void Recorder::record(int link, int slot, const modbus::SlotResult &result) {
    const std::int64_t ms = clock_();
    if (result.outcome == modbus::SlotOutcome::Valid)
        store_.recordValues(link, slot, ms, result.request.slave, result.request.start,
                            result.registers);
    else
        store_.recordGap(link, slot, ms);
}

} // namespace trend
