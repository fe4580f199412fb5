#include "plant_model.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double TwoPi = 6.283185307179586;

// Slow swing plus a small fast ripple, so consecutive polls half a second apart differ.
double wave(double t, double slowPeriod, double fastPeriod, double phase, double slowAmp,
            double fastAmp) {
    return slowAmp * std::sin(TwoPi * t / slowPeriod + phase) +
           fastAmp * std::sin(TwoPi * t / fastPeriod + 2.0 * phase);
}

std::uint16_t clampWord(double v) {
    return std::uint16_t(std::clamp(std::lround(v), 0L, 65535L));
}

} // namespace

std::uint16_t PlantModel::value(int slave, int address, double t) const {
    if (staticValues_ || address < FirstLiveRegister || address > LastLiveRegister)
        return staticValue(slave, address);

    // Each slave is an engine set of its own: different phase and rating.
    const double phase = 1.3 * slave;
    const double ratedKw = 600.0 + 100.0 * (slave % 7);

    const double rpm = 625.0 + wave(t, 90.0, 3.7, phase, 110.0, 8.0);
    const double loadFraction = 0.55 + wave(t, 120.0, 4.1, phase, 0.30, 0.03);
    const double loadKw = ratedKw * loadFraction;
    const double volts = 400.0 + wave(t, 45.0, 2.9, phase, 4.0, 1.5);
    const double amps = loadKw * 1000.0 / (std::sqrt(3.0) * volts * 0.85);

    switch (address) {
    case 1139: // engine speed, rpm
        return clampWord(rpm);
    case 1140: // active power, kW
        return clampWord(loadKw);
    case 1141: // generator voltage L-L, V
        return clampWord(volts);
    case 1142: // generator current, A
        return clampWord(amps);
    case 1143: // frequency, Hz x 100 (8-pole alternator: 750 rpm = 50 Hz)
        return clampWord(rpm * 20.0 / 3.0);
    case 1144: // lube-oil pressure, kPa
        return clampWord(320.0 + rpm / 750.0 * 100.0 + wave(t, 60.0, 5.3, phase, 6.0, 3.0));
    case 1145: // coolant temperature, degC x 10
        return clampWord(820.0 + wave(t, 200.0, 6.1, phase, 25.0, 4.0));
    case 1146: // exhaust temperature, degC
        return clampWord(330.0 + loadFraction * 150.0 + wave(t, 70.0, 3.3, phase, 5.0, 3.0));
    case 1147: // charge-air pressure, kPa
        return clampWord(120.0 + loadFraction * 130.0 + wave(t, 50.0, 2.7, phase, 3.0, 2.0));
    case 1148: // fuel rack position, 0.1 %
        return clampWord(100.0 + loadFraction * 700.0 + wave(t, 40.0, 1.9, phase, 5.0, 4.0));
    case 1149: // fuel rate, l/h x 10
        return clampWord(loadKw * 2.4 + wave(t, 30.0, 2.3, phase, 8.0, 5.0));
    case 1150: // lube-oil temperature, degC x 10
        return clampWord(760.0 + loadFraction * 60.0 + wave(t, 150.0, 5.7, phase, 15.0, 3.0));
    case 1151: // running hours, h
        return clampWord(8000.0 + 1000.0 * (slave % 10) + t / 3600.0);
    case 1152: // status word: bit 0 running, bit 1 breaker closed
        return 0x0003;
    default:
        return staticValue(slave, address);
    }
}
