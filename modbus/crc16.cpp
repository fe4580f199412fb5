#include "crc16.h"

namespace modbus {
namespace {

constexpr std::array<std::uint8_t, 512> makeTable() {
    std::array<std::uint8_t, 512> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
        table[i] = static_cast<std::uint8_t>(c & 0xFF);
        table[256 + i] = static_cast<std::uint8_t>(c >> 8);
    }
    return table;
}

} // namespace

const std::array<std::uint8_t, 512> crcTable = makeTable();

bool crc16(QByteArrayView data, int n, CrcPair &pair) {
    pair = CrcPair{};
    for (int p = 0; p < n; ++p) {
        if (p >= data.size())
            return false;
        const unsigned idx = static_cast<std::uint8_t>(data[p]) ^ pair.hi;
        pair.hi = pair.lo ^ crcTable[idx];
        pair.lo = crcTable[256 + idx];
    }
    return true;
}

CrcPair crc16(QByteArrayView data) {
    CrcPair pair;
    crc16(data, static_cast<int>(data.size()), pair);
    return pair;
}

} // namespace modbus
