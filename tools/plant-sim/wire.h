#pragma once

#include "linesettings.h"

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

// Microseconds on the monotonic clock.
using Micros = std::int64_t;
constexpr Micros NoTime = std::numeric_limits<Micros>::max();

struct WireSettings {
    double charMicros = 0;    // one character
    Micros gapMicros = 0;     // the silence that ends a frame
    bool echo = false;        // the station hears its own characters
    int chunkBytes = 0;       // adapter buffer: handed over at once when full
    Micros latencyMicros = 0; // adapter holds bytes this long after the oldest arrived; 0: none
    // The adapter's latency timer runs free: held bytes go at its next tick, however long ago
    // they arrived.
    bool latencyFreeRunning = false;

    // Character time and frame gap of an 8N1 line at `baud`, as the station times them.
    static WireSettings atBaud(int baud);
};

// Microseconds one character of `line` takes (fractional).
double characterMicros(const LineSettings &line);

struct WireStats {
    static constexpr Micros BinMicros = 10;
    static constexpr std::size_t Bins = 10000; // 10 us bins up to 100 ms, the last one open

    std::uint64_t frames = 0;     // transmissions of the station
    std::uint64_t merged = 0;     // station frames run together with another frame, unanswered
    std::uint64_t collisions = 0; // pairs of transmissions that overlapped
    Micros silenceMin = -1;       // shortest silence before a station frame; -1: none yet
    std::vector<std::uint32_t> silence = std::vector<std::uint32_t>(Bins);

    void addSilence(Micros us);
    // Median of the silences, to a bin; -1 when there are none.
    Micros silenceMedian() const;
};

// A frame the slaves took in whole: the station's bytes alone on the wire between two silences.
struct WireFrame {
    std::vector<std::uint8_t> bytes;
    Micros end = 0; // its last character left the wire
};

// One RS-485 link as a single wire. Every transmission occupies it for its characters at the line's
// speed. Slaves find frames by silence: a frame that starts less than the gap after another ends
// runs together with it, and two transmissions that overlap garble each other. The station's
// adapter hands it what it hears: the slaves' characters (and with echo its own), garbled where
// they overlapped, in chunks after a latency.
//
// Transmissions are added in time order: the caller runs advance() up to a moment before adding
// what starts then.
class Wire {
public:
    explicit Wire(WireSettings settings, std::uint64_t seed = 1);

    // Bytes the station wrote, read from its port at `at`. They go out behind whatever the station
    // is still sending, as a UART's transmit queue does.
    void fromStation(Micros at, const std::uint8_t *data, std::size_t length);
    // A slave starts transmitting at `at`, its characters `charMicros` long (0: the line's).
    void fromSlave(Micros at, std::vector<std::uint8_t> bytes, double charMicros = 0);

    struct Output {
        std::vector<WireFrame> requests;     // the station's frames that ended in silence, whole
        std::vector<std::uint8_t> toStation; // what the adapter handed over
    };
    // Runs the wire up to `now`.
    Output advance(Micros now);
    // The next moment advance() has something to do; NoTime when nothing is pending.
    Micros nextEvent() const;
    const WireStats &stats() const { return stats_; }
    Micros gap() const { return settings_.gapMicros; }

private:
    struct Transmission {
        std::uint64_t id = 0;
        bool station = false;
        Micros start = 0;
        double charMicros = 0;
        std::vector<std::uint8_t> bytes;
        std::vector<bool> garbled;
        std::vector<std::uint64_t> collidedWith;
        bool merged = false;
        bool decided = false;      // a station frame handed to the slaves or given up
        std::size_t delivered = 0; // characters passed to the adapter
    };

    Micros charEnd(const Transmission &t, std::size_t i) const;
    Micros end(const Transmission &t) const { return charEnd(t, t.bytes.size() - 1); }
    bool heardByStation(const Transmission &t) const { return !t.station || settings_.echo; }
    void relate(Transmission &t);
    void garbleOverlap(Transmission &t, const Transmission &other);
    Micros nextArrival(std::size_t *index) const;
    Micros handOverAt() const;
    void step(Micros t, Output &out);

    WireSettings settings_;
    std::mt19937_64 rng_;
    std::vector<Transmission> live_;
    std::vector<std::pair<Micros, std::uint8_t>> adapter_; // arrival, byte
    std::uint64_t nextId_ = 1;
    Micros lastEnd_ = -1;
    WireStats stats_;
};
