#pragma once

#include "framerecord.h"
#include "linetiming.h"

#include <QString>

namespace traffic {

// The time of silence below which a frame may run into the one before, on the station's lines.
constexpr qint64 interFrameMicros = modbus::lineTiming(stationLine).interFrame.count() / 1000;

inline bool silenceTooShort(const modbus::FrameRecord &frame) {
    return frame.silenceMicros >= 0 && frame.silenceMicros < interFrameMicros;
}

QString verdictName(modbus::FrameVerdict verdict);
// The name of a Modbus exception code, empty for a code without one.
QString exceptionName(int code);
// A valid reply's registers, each with the address it was read from: "1139=412, 1140=0".
QString registerValues(const modbus::FrameRecord &frame);
// What the verdict adds: registers and response time, exception code and name, byte count.
QString verdictDetail(const modbus::FrameRecord &frame, qsizetype byteCount);
// "out", "in", or "-" for a row that is no frame.
QString directionText(const modbus::FrameRecord &frame);
// Local wall-clock time with microseconds: 2026-12-08 21:40:01.123456.
QString wallTime(qint64 wallMicros);
// Milliseconds with three decimals; "-" when unknown.
QString millis(qint64 micros);
QString hexBytes(const QByteArray &bytes);

// The names of the capture line's fields, as a first line for a saved file.
QByteArray captureHeader();
// One tab-separated line, ending in a line feed: time, link, direction, slave, hex, silence in
// ms, verdict, detail. byteCount is the frame's length before any cap on the kept bytes.
QByteArray captureLine(const modbus::FrameRecord &frame, qsizetype byteCount);
inline QByteArray captureLine(const modbus::FrameRecord &frame) {
    return captureLine(frame, frame.bytes.size());
}

} // namespace traffic
