#include "pollrecords.h"

namespace modbus {

FrameRecord PollRecords::make(FrameVerdict verdict, qint64 at, Who who) const {
    FrameRecord r;
    r.monoMicros = at / 1000;
    r.wallMicros = clock_.wallMicros(at);
    r.verdict = verdict;
    r.slot = who.slot;
    r.slave = who.slave;
    return r;
}

void PollRecords::request(const QByteArray &bytes, qint64 at, qint64 silence, Who who) const {
    FrameRecord r = make(FrameVerdict::Request, at, who);
    r.direction = FrameDirection::Out;
    r.bytes = bytes;
    r.silenceMicros = silence < 0 ? -1 : silence / 1000;
    sink_(r);
}

void PollRecords::input(const Arrivals &in, qsizetype from, qsizetype to, FrameVerdict verdict,
                        Who who, int registers, qint64 responseMicros, std::uint8_t exceptionCode,
                        int start) const {
    if (to <= from)
        return;
    FrameRecord r = make(verdict, in.arrival(from), who);
    r.bytes = in.bytes().sliced(from, to - from);
    const qint64 silence = in.silenceBefore(from);
    r.silenceMicros = silence < 0 ? -1 : silence / 1000;
    r.pieces = in.piecesIn(from, to);
    r.registers = registers;
    r.responseMicros = responseMicros;
    r.exceptionCode = exceptionCode;
    r.start = start;
    sink_(r);
}

void PollRecords::mark(FrameVerdict verdict, qint64 at, qint64 silence, Who who,
                       qint64 responseMicros) const {
    FrameRecord r = make(verdict, at, who);
    r.responseMicros = responseMicros;
    r.silenceMicros = silence < 0 ? -1 : silence / 1000;
    sink_(r);
}

} // namespace modbus
