#include "slotstats.h"

namespace modbus {

void countSlot(SlotStats &stats, const SlotResult &result, const QDateTime &now) {
    const bool sent = result.outcome == SlotOutcome::Valid ||
                      result.outcome == SlotOutcome::Exception ||
                      result.outcome == SlotOutcome::NoReply;
    if (sent && stats.slave != result.request.slave) {
        stats = {};
        stats.slave = result.request.slave;
    }
    switch (result.outcome) {
    case SlotOutcome::Disabled:
    case SlotOutcome::NotSent:
    case SlotOutcome::PortClosed:
        return;
    case SlotOutcome::Valid:
        ++stats.requests;
        ++stats.valid;
        stats.lastResponseMicros = result.responseMicros;
        stats.totalResponseMicros += result.responseMicros;
        stats.lastValid = now;
        stats.failingSince = {};
        return;
    case SlotOutcome::Exception:
        ++stats.requests;
        ++stats.exceptions;
        stats.lastExceptionCode = result.exceptionCode;
        if (!stats.failingSince.isValid())
            stats.failingSince = now;
        return;
    case SlotOutcome::LineBusy:
        ++stats.lineBusy;
        if (!stats.failingSince.isValid())
            stats.failingSince = now;
        return;
    case SlotOutcome::NoReply:
        break;
    }
    ++stats.requests;
    if (!stats.failingSince.isValid())
        stats.failingSince = now;
    switch (result.reject) {
    case RejectReason::BadCrc:
        ++stats.badCrc;
        break;
    case RejectReason::WrongSlave:
        ++stats.wrongSlave;
        break;
    case RejectReason::WrongLength:
        ++stats.wrongLength;
        break;
    case RejectReason::Garbage:
        ++stats.garbage;
        break;
    case RejectReason::None:
    case RejectReason::NoBytes:
        ++stats.timeouts;
        break;
    }
}

} // namespace modbus
