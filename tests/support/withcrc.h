#pragma once

#include "crc16.h"

#include <QByteArray>

// A frame with its two check bytes appended, as a slave sends it.
inline QByteArray withCrc(QByteArray frame) {
    const auto pair = modbus::crc16(frame);
    return frame + char(pair.hi) + char(pair.lo);
}
