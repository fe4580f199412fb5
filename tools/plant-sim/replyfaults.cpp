#include "replyfaults.h"

#include <bitset>

std::uint16_t rtuCrc(const std::uint8_t *data, std::size_t length) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    }
    return crc;
}

void readdress(std::vector<std::uint8_t> &frame, std::uint8_t address) {
    if (frame.size() < 4)
        return;
    frame[0] = address;
    const std::uint16_t crc = rtuCrc(frame.data(), frame.size() - 2);
    frame[frame.size() - 2] = std::uint8_t(crc & 0xFF);
    frame[frame.size() - 1] = std::uint8_t(crc >> 8);
}

std::vector<std::uint8_t> seenAs8N1(const std::vector<std::uint8_t> &sent8E1) {
    std::vector<std::uint8_t> seen;
    seen.reserve(sent8E1.size());
    for (const std::uint8_t byte : sent8E1) {
        const bool parityBit = std::bitset<8>(byte).count() % 2 == 1;
        seen.push_back(parityBit ? byte : 0);
    }
    return seen;
}
