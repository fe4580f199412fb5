#pragma once

#include "linesettings.h"

#include <QtGlobal>
#include <chrono>

namespace modbus {

using std::chrono::nanoseconds;

// USB adapters hold received bytes up to their latency timer (16 ms by default) before they hand
// them over, so a gap seen by the station is not a gap on the wire until this much longer.
constexpr nanoseconds adapterHold = std::chrono::milliseconds(16);
// A slave answering this much after the time-out must still find the line free.
constexpr nanoseconds lateReplyWindow = std::chrono::milliseconds(20);

// Times on the wire that follow from a line's settings.
struct LineTiming {
    nanoseconds character;  // one character
    nanoseconds interFrame; // silence that ends a frame and must precede a request
    nanoseconds settle;     // quiet after bytes that end no known frame (chunked delivery)
    nanoseconds guard;      // after a time-out, before the next request

    constexpr nanoseconds frame(qsizetype bytes) const { return character * bytes; }
};

constexpr LineTiming lineTiming(const LineSettings &line) {
    const auto character =
        nanoseconds((line.bitsPerCharacter() * 1'000'000'000LL + line.baud - 1) / line.baud);
    // 3.5 characters; above 19200 baud a fixed 1.75 ms, as slaves time it.
    const auto interFrame =
        line.baud > 19200 ? nanoseconds(1'750'000) : nanoseconds(character.count() * 7 / 2);
    return {character, interFrame, adapterHold + interFrame,
            lateReplyWindow + adapterHold + interFrame};
}

} // namespace modbus
