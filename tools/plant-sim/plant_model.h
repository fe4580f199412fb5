#pragma once

#include <cstdint>

// Holding-register contents of the simulated engine sets. Registers 1139..1152 carry live
// engine values that drift with time; every other register is (slave * 1000 + address) & 0xFFFF.
class PlantModel {
public:
    static constexpr int FirstLiveRegister = 1139;
    static constexpr int LastLiveRegister = 1152;

    explicit PlantModel(bool staticValues)
        : staticValues_(staticValues) {}

    // seconds: time since the simulator started.
    std::uint16_t value(int slave, int address, double seconds) const;

    static std::uint16_t staticValue(int slave, int address) {
        return std::uint16_t((slave * 1000 + address) & 0xFFFF);
    }

    // Input registers (function 4) hold fixed values, apart from the holding registers':
    // (slave * 1000 + address + 30000) & 0xFFFF.
    static std::uint16_t inputValue(int slave, int address) {
        return std::uint16_t((slave * 1000 + address + 30000) & 0xFFFF);
    }

private:
    bool staticValues_;
};
