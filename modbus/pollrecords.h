#pragma once

#include "arrivals.h"
#include "clock.h"
#include "framerecord.h"

#include <functional>
#include <vector>

namespace modbus {

// Builds the traffic records of a poll from what it hands over: bytes with their arrival times,
// and how it judged them. It keeps no state of the poll's.
class PollRecords {
public:
    using Sink = std::function<void(const FrameRecord &)>;
    PollRecords(const clk::Clock &clock, Sink sink)
        : clock_(clock)
        , sink_(std::move(sink)) {}

    struct Who {
        int slot = -1;
        int slave = -1;
    };
    // A request written at `at` after `silence` nanoseconds of quiet line (-1: unknown).
    void request(const QByteArray &bytes, qint64 at, qint64 silence, Who who) const;
    // Received bytes from..to as one frame.
    void input(const Arrivals &in, qsizetype from, qsizetype to, FrameVerdict verdict, Who who,
               int registers = 0, qint64 responseMicros = 0, std::uint8_t exceptionCode = 0,
               int start = -1) const;
    // A record without bytes (a time-out, a busy line) at `at`.
    void mark(FrameVerdict verdict, qint64 at, qint64 silence, Who who,
              qint64 responseMicros) const;

private:
    FrameRecord make(FrameVerdict verdict, qint64 at, Who who) const;

    const clk::Clock &clock_;
    Sink sink_;
};

} // namespace modbus
