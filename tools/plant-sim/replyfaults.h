#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The Modbus RTU CRC of `length` bytes (low byte first on the wire).
std::uint16_t rtuCrc(const std::uint8_t *data, std::size_t length);

// The frame as coming from slave `address`: its first byte replaced and the CRC made anew.
void readdress(std::vector<std::uint8_t> &frame, std::uint8_t address);

// What an 8N1 receiver reads of bytes sent 8E1. It takes the parity bit for the stop bit: where
// that bit is 0 (even parity with an even number of ones) it sees a framing error and, as a
// serial driver does without error marking, reads a 0 byte; the other bytes come through.
std::vector<std::uint8_t> seenAs8N1(const std::vector<std::uint8_t> &sent8E1);
