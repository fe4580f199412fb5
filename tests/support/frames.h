#pragma once

// Modbus frames as the tests' slaves build them. The CRC is computed here one bit at a time,
// apart from the station's table, so that the tests judge frames by a CRC of their own.
// Header only: the fuzzers, built apart from the main build, include it too.

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>
#include <functional>
#include <vector>

// CRC-16/MODBUS one bit at a time: polynomial 0xA001 reflected, initial value 0xFFFF.
inline std::uint16_t bitwiseCrc(QByteArrayView bytes) {
    std::uint16_t crc = 0xFFFF;
    for (const char c : bytes) {
        crc ^= std::uint8_t(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    }
    return crc;
}

// The frame with its two check bytes appended, low-order byte first, as a slave sends it.
inline QByteArray withCrc(QByteArray frame) {
    const std::uint16_t crc = bitwiseCrc(frame);
    frame += char(crc & 0xFF);
    frame += char(crc >> 8);
    return frame;
}

// The frame's last two bytes are the CRC of the rest.
inline bool crcHolds(QByteArrayView frame) {
    return frame.size() >= 3 &&
           withCrc(frame.first(frame.size() - 2).toByteArray()) == frame.toByteArray();
}

// What plant-sim --static serves, and the tests' slaves unless told otherwise: register
// `address` of slave `slave` holds (slave * 1000 + address) & 0xFFFF.
constexpr std::uint16_t staticValue(int slave, int address) {
    return std::uint16_t((slave * 1000 + address) & 0xFFFF);
}

// A read request's (function 3 or 4) slave, first register and register count.
struct ReadAsked {
    int slave = 0;
    int start = 0;
    int count = 0;
};
inline ReadAsked readAsked(QByteArrayView request) {
    const auto at = [&](qsizetype i) { return int(std::uint8_t(request[i])); };
    return {at(0), at(2) << 8 | at(3), at(4) << 8 | at(5)};
}

// The reply of `slave` to a read (function 3, or 4 for input registers), carrying `values`.
inline QByteArray readReply(int slave, const std::vector<std::uint16_t> &values, int function = 3) {
    QByteArray frame;
    frame += char(slave);
    frame += char(function);
    frame += char(2 * values.size());
    for (const std::uint16_t v : values)
        frame += char(v >> 8), frame += char(v & 0xFF);
    return withCrc(frame);
}

// A register's value at a slave, as a test's slave serves it.
using RegisterValue = std::function<std::uint16_t(int slave, int address)>;

// The reply to a read request, the registers as `value` gives them, under the request's slave or,
// when `slave` is not negative, under that one (another slave's reply).
inline QByteArray replyTo(QByteArrayView request, const RegisterValue &value = staticValue,
                          int slave = -1) {
    const ReadAsked asked = readAsked(request);
    std::vector<std::uint16_t> values;
    for (int r = 0; r < asked.count; ++r)
        values.push_back(value(asked.slave, asked.start + r));
    return readReply(slave < 0 ? asked.slave : slave, values, std::uint8_t(request[1]));
}
