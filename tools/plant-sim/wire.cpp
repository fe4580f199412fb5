#include "wire.h"

#include "modbus/linetiming.h"

#include <algorithm>
#include <chrono>
#include <cmath>

void WireStats::addSilence(Micros us) {
    silenceMin = silenceMin < 0 ? us : std::min(silenceMin, us);
    ++silence[std::min(std::size_t(us / BinMicros), Bins - 1)];
}

Micros WireStats::silenceMedian() const {
    std::uint64_t total = 0;
    for (const std::uint32_t n : silence)
        total += n;
    if (total == 0)
        return -1;
    std::uint64_t seen = 0;
    for (std::size_t bin = 0; bin < Bins; ++bin) {
        seen += silence[bin];
        if (2 * seen >= total)
            return Micros(bin) * BinMicros;
    }
    return Micros(Bins - 1) * BinMicros;
}

double characterMicros(const LineSettings &line) {
    return double(modbus::lineTiming(line).character.count()) / 1000.0;
}

WireSettings WireSettings::atBaud(int baud) {
    LineSettings line;
    line.baud = baud;
    WireSettings s;
    s.charMicros = characterMicros(line);
    s.gapMicros = Micros(
        std::chrono::duration_cast<std::chrono::microseconds>(modbus::lineTiming(line).interFrame)
            .count());
    return s;
}

Wire::Wire(WireSettings settings, std::uint64_t seed)
    : settings_(settings)
    , rng_(seed) {}

Micros Wire::charEnd(const Transmission &t, std::size_t i) const {
    return t.start + std::llround(double(i + 1) * t.charMicros);
}

void Wire::fromStation(Micros at, const std::uint8_t *data, std::size_t length) {
    if (length == 0)
        return;
    // Still sending: the bytes follow the ones in the transmit queue without a pause.
    for (Transmission &t : live_) {
        if (t.station && !t.decided && end(t) > at) {
            t.bytes.insert(t.bytes.end(), data, data + length);
            t.garbled.resize(t.bytes.size());
            relate(t);
            lastEnd_ = std::max(lastEnd_, end(t));
            return;
        }
    }
    Transmission t;
    t.id = nextId_++;
    t.station = true;
    t.start = at;
    t.charMicros = settings_.charMicros;
    t.bytes.assign(data, data + length);
    t.garbled.resize(length);
    ++stats_.frames;
    if (lastEnd_ >= 0)
        stats_.addSilence(std::max<Micros>(0, at - lastEnd_));
    live_.push_back(std::move(t));
    relate(live_.back());
    lastEnd_ = std::max(lastEnd_, end(live_.back()));
}

void Wire::fromSlave(Micros at, std::vector<std::uint8_t> bytes, double charMicros) {
    if (bytes.empty())
        return;
    Transmission t;
    t.id = nextId_++;
    t.start = at;
    t.charMicros = charMicros > 0 ? charMicros : settings_.charMicros;
    t.garbled.resize(bytes.size());
    t.bytes = std::move(bytes);
    live_.push_back(std::move(t));
    relate(live_.back());
    lastEnd_ = std::max(lastEnd_, end(live_.back()));
}

// How t stands to every other transmission still on or near the wire.
void Wire::relate(Transmission &t) {
    for (Transmission &u : live_) {
        if (u.id == t.id)
            continue;
        const Micros between = std::max(u.start - end(t), t.start - end(u));
        if (between < 0) {
            if (std::find(t.collidedWith.begin(), t.collidedWith.end(), u.id) ==
                t.collidedWith.end()) {
                t.collidedWith.push_back(u.id);
                u.collidedWith.push_back(t.id);
                ++stats_.collisions;
            }
            garbleOverlap(t, u);
            garbleOverlap(u, t);
        } else if (between < settings_.gapMicros) {
            t.merged = true;
            u.merged = true;
        }
    }
}

void Wire::garbleOverlap(Transmission &t, const Transmission &other) {
    const Micros otherEnd = end(other);
    for (std::size_t i = 0; i < t.bytes.size(); ++i) {
        const Micros from = i == 0 ? t.start : charEnd(t, i - 1);
        if (from < otherEnd && other.start < charEnd(t, i))
            t.garbled[i] = true;
    }
}

Micros Wire::nextArrival(std::size_t *index) const {
    Micros next = NoTime;
    for (std::size_t i = 0; i < live_.size(); ++i) {
        const Transmission &t = live_[i];
        if (heardByStation(t) && t.delivered < t.bytes.size() && charEnd(t, t.delivered) < next) {
            next = charEnd(t, t.delivered);
            if (index)
                *index = i;
        }
    }
    return next;
}

Micros Wire::nextEvent() const {
    Micros next = nextArrival(nullptr);
    for (const Transmission &t : live_) {
        if (t.station && !t.decided)
            next = std::min(next, end(t) + settings_.gapMicros);
    }
    if (!adapter_.empty() && settings_.latencyMicros > 0)
        next = std::min(next, handOverAt());
    return next;
}

// When the latency timer releases the bytes held: a fixed time after the oldest arrived, or at the
// free-running timer's first tick after it.
Micros Wire::handOverAt() const {
    const Micros oldest = adapter_.front().first;
    const Micros latency = settings_.latencyMicros;
    if (!settings_.latencyFreeRunning || latency <= 0)
        return oldest + latency;
    return (oldest / latency + 1) * latency;
}

Wire::Output Wire::advance(Micros now) {
    Output out;
    for (Micros t; (t = nextEvent()) <= now;)
        step(t, out);
    // Nothing that starts from now on can touch what ended a gap ago.
    live_.erase(std::remove_if(live_.begin(), live_.end(),
                               [&](const Transmission &t) {
                                   return end(t) + settings_.gapMicros <= now &&
                                          (!t.station || t.decided) &&
                                          (!heardByStation(t) || t.delivered == t.bytes.size());
                               }),
                live_.end());
    return out;
}

void Wire::step(Micros now, Output &out) {
    auto handOver = [&] {
        for (const auto &[arrival, byte] : adapter_)
            out.toStation.push_back(byte);
        adapter_.clear();
    };
    std::size_t index = 0;
    for (Micros at; (at = nextArrival(&index)) <= now;) {
        Transmission &t = live_[index];
        std::uint8_t byte = t.bytes[t.delivered];
        if (t.garbled[t.delivered])
            byte ^= std::uint8_t(std::uniform_int_distribution<int>(1, 255)(rng_));
        ++t.delivered;
        adapter_.emplace_back(at, byte);
        if (settings_.chunkBytes > 0 && int(adapter_.size()) >= settings_.chunkBytes)
            handOver();
    }
    if (!adapter_.empty() && handOverAt() <= now)
        handOver();

    for (Transmission &t : live_) {
        if (!t.station || t.decided || end(t) + settings_.gapMicros > now)
            continue;
        t.decided = true;
        if (!t.collidedWith.empty())
            continue;
        if (t.merged)
            ++stats_.merged;
        else
            out.requests.push_back({t.bytes, end(t)});
    }
}
