#pragma once

#include <QByteArrayView>
#include <array>
#include <cstdint>

namespace modbus {

// The two check bytes in wire order: `hi` goes first, it is the low-order byte of the
// CRC-16/MODBUS value.
struct CrcPair {
    std::uint8_t hi = 0xFF;
    std::uint8_t lo = 0xFF;
    friend bool operator==(CrcPair, CrcPair) = default;
};

// Entries 0..255 give the byte sent first, 256..511 the byte sent second: the pair of tables of
// the table-driven CRC routine of the Modbus serial line.
extern const std::array<std::uint8_t, 512> crcTable;

// CRC of the first n bytes of data. When n runs past the end of data the result is false and
// `pair` holds the CRC of the bytes that exist.
bool crc16(QByteArrayView data, int n, CrcPair &pair);

// CRC of all of data.
CrcPair crc16(QByteArrayView data);

} // namespace modbus
