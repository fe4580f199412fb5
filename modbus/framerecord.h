#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <cstdint>

namespace modbus {

// What one frame on a link was, as the poll judged it when it handled the bytes.
enum class FrameVerdict {
    Request,     // a request the station wrote
    Valid,       // the reply to the outstanding request
    Exception,   // an exception reply from the polled slave
    BadCrc,      // right slave and length, wrong check bytes
    WrongSlave,  // a reply-shaped frame from another slave
    WrongLength, // the polled slave's frame with a wrong byte count, or cut short
    Noise,       // bytes that form no frame
    Late,        // arrived after its slot's time-out, or with no request outstanding
    Echo,        // the station's own request read back (two-wire adapters echo)
    TimeOut,     // no reply within the time-out: a record without bytes
    LineBusy,    // the line never went quiet, so no request went out: a record without bytes
    Link,        // no frame: the link's port opened, failed or closed; the note says which
};

enum class FrameDirection { Out, In };

// One frame on one link, recorded where the poll already knows what it is.
struct FrameRecord {
    qint64 wallMicros = 0; // wall clock, microseconds since the epoch
    qint64 monoMicros = 0; // monotonic clock, microseconds; differences between records are exact
    int link = -1;         // filled in by whoever owns the link
    FrameDirection direction = FrameDirection::In;
    int slot = -1;  // slave slot 0..3, or -1 when no slot's turn was under way
    int slave = -1; // the slot's slave address, or the frame's first byte when no slot
    QByteArray bytes;
    qint64 silenceMicros = -1; // quiet line before the frame's first byte; -1 when unknown
    FrameVerdict verdict = FrameVerdict::Noise;
    int pieces = 1;            // pieces of input the frame arrived in
    int registers = 0;         // Valid: registers carried
    qint64 responseMicros = 0; // Valid, Exception: from the request written to the reply complete
    std::uint8_t exceptionCode = 0; // Exception: its code
    int start = -1; // Valid: the address of the first register the request asked for
    QString note;   // Link: what became of the port, and why
};

} // namespace modbus

Q_DECLARE_METATYPE(modbus::FrameRecord)
