#include "poll.h"

#include <QMetaMethod>
#include <chrono>

// The traffic record of a poll: what it wrote and how it judged what came in.
namespace modbus {

bool LinkPoll::recording() const {
    static const QMetaMethod signal = QMetaMethod::fromSignal(&LinkPoll::frame);
    return isSignalConnected(signal);
}

FrameRecord LinkPoll::record(FrameVerdict verdict, qint64 nanos) const {
    using namespace std::chrono;
    FrameRecord r;
    const qint64 wallNow =
        duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    r.monoMicros = nanos / 1000;
    r.wallMicros = wallNow - (monotonicNanos() - nanos) / 1000;
    r.verdict = verdict;
    r.slot = slot_;
    r.slave = request_.slave;
    return r;
}

void LinkPoll::recordInput(const Arrivals &in, qsizetype from, qsizetype to, FrameVerdict verdict,
                           int slot, int slave, const SlotResult *result) {
    FrameRecord r = record(verdict, in.arrival(from));
    r.slot = slot;
    r.slave = slave;
    r.bytes = in.bytes().sliced(from, to - from);
    const qint64 silence = in.silenceBefore(from);
    r.silenceMicros = silence < 0 ? -1 : silence / 1000;
    r.pieces = in.piecesIn(from, to);
    if (result) {
        r.registers = result->values;
        r.responseMicros = result->responseMicros;
        r.exceptionCode = result->exceptionCode;
    }
    emit frame(r);
}

void LinkPoll::recordWait(std::optional<Span> reply, FrameVerdict verdict,
                          const SlotResult &result) {
    const qsizetype echo = echoLength(input_.bytes(), sent_);
    const qsizetype size = input_.bytes().size();
    const int slave = request_.slave;
    if (echo > 0)
        recordInput(input_, 0, echo, FrameVerdict::Echo, slot_, slave);
    if (!reply) {
        // The wait ended without a frame: whatever came was rejected.
        if (size > echo)
            recordInput(input_, echo, size, verdict, slot_, slave);
        const qint64 now = monotonicNanos();
        FrameRecord r = record(FrameVerdict::TimeOut, now);
        r.responseMicros = result.responseMicros;
        r.silenceMicros = (now - std::max(lastInput_, requestEnd_)) / 1000;
        emit frame(r);
        return;
    }
    const auto [from, to] = *reply;
    if (from > echo)
        recordInput(input_, echo, from, FrameVerdict::Noise, slot_, slave);
    recordInput(input_, from, to, verdict, slot_, slave, &result);
    if (to < size)
        recordInput(input_, to, size, FrameVerdict::Noise, slot_, slave);
}

void LinkPoll::flushLate() {
    if (late_.isEmpty())
        return;
    if (recording()) {
        const int slave = lateSlot_ >= 0 ? lateRequest_.slave : std::uint8_t(late_.bytes()[0]);
        recordInput(late_, 0, late_.bytes().size(), FrameVerdict::Late, lateSlot_, slave);
    }
    late_.clear(-1);
}

} // namespace modbus
