#pragma once

namespace modbus {

// The station's shape: two serial links, each polling up to four slave slots.
inline constexpr int linkCount = 2;
inline constexpr int slotCount = 4;

} // namespace modbus
