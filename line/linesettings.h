#pragma once

// The character format of a serial line. Every link of the station runs 38400 8N1.
struct LineSettings {
    int baud = 38400;
    int dataBits = 8;
    bool parity = false;
    int stopBits = 1;

    // Bits one character occupies on the wire: start bit, data, parity, stop bits.
    constexpr int bitsPerCharacter() const { return 1 + dataBits + (parity ? 1 : 0) + stopBits; }
};

inline constexpr LineSettings stationLine{};
