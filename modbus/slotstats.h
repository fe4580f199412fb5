#pragma once

#include "poll.h"

#include <QDateTime>

namespace modbus {

// What one slave slot has done since the station started or its counts were reset.
struct SlotStats {
    int slave = -1; // whose counts these are; -1 before the first request
    quint64 requests = 0;
    quint64 valid = 0;
    quint64 timeouts = 0;
    quint64 late = 0; // time-outs after which the reply came all the same, and was dropped
    quint64 badCrc = 0;
    quint64 wrongSlave = 0;
    quint64 wrongLength = 0;
    quint64 garbage = 0;
    quint64 exceptions = 0;
    quint64 lineBusy = 0; // turns the line never went quiet for: nothing sent
    std::uint8_t lastExceptionCode = 0;
    qint64 lastResponseMicros = -1;
    qint64 totalResponseMicros = 0;
    QDateTime lastValid;
    QDateTime failingSince; // first failure after the last valid reply

    quint64 rejected() const { return badCrc + wrongSlave + wrongLength + garbage; }
    qint64 averageResponseMicros() const {
        return valid ? totalResponseMicros / qint64(valid) : -1;
    }
};

// Counts one slot's turn; turns that sent nothing leave the counts alone. A request to another
// slave than the counts belong to starts them afresh.
void countSlot(SlotStats &stats, const SlotResult &result, const QDateTime &now);

// Counts bytes that came after one of the slot's time-outs.
inline void countLate(SlotStats &stats) {
    ++stats.late;
}

} // namespace modbus
