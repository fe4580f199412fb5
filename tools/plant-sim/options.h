#pragma once

#include "linesettings.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

// How often a fault is injected: never, with a probability per request, or on every K-th
// request (K, 2K, 3K, ... counted over all requests to served slaves on both links).
struct FaultRule {
    enum class Mode { Off, Rate, Every };

    Mode mode = Mode::Off;
    double rate = 0.0;
    std::uint64_t every = 0;

    // Accepts "0.25" (rate 0..1) or "every:K" (K >= 1).
    static std::optional<FaultRule> parse(const std::string &text);

    // Rate rules always consume one random draw, whether or not another fault wins, so the
    // random sequence depends only on the number of requests.
    bool fires(std::uint64_t requestNumber, std::mt19937_64 &rng) const;
};

enum class GarbageMode { Before, Instead };

struct Options {
    std::string dir;
    int ports[2] = {5, 10};
    std::vector<int> slaves[2] = {{2, 60, 5, 6}, {9, 10}};
    bool staticValues = false;
    bool wireSpeed = false;
    int turnaroundMs = 5;
    FaultRule silent;
    FaultRule late;
    FaultRule corrupt;
    FaultRule exception;
    FaultRule garbage;
    FaultRule wrongParity; // the reply goes out 8E1 and reaches the 8N1 station garbled
    FaultRule wrongId;     // the reply carries another slave's address
    int lateMs = 600;      // a late reply starts lateMs..lateMsMax after the request
    int lateMsMax = 600;
    int exceptionCode = 2;
    GarbageMode garbageMode = GarbageMode::Before;
    std::uint64_t seed = 1;
    std::string recordPath;
    bool stdinControl = false;
    std::vector<int> faultSlaves; // faults hit only these slaves; empty: all
    // Shared-wire mode: each link is one wire at the line's speed (wire.h).
    bool bus = false;
    int baud = stationLine.baud; // with --bus: the wire's speed
    bool echo = false;
    int chunkBytes = 0;
    int latencyMs = 0;
    bool latencyFreeRunning = false;
    // A babbling device: one random byte every babbleMs..babbleMsMax ms on link babbleLink.
    double babbleMs = 0;
    double babbleMsMax = 0;
    int babbleLink = 0;
};

enum class ParseResult { Ok, Help, Error };

// Errors are reported on stderr.
ParseResult parseOptions(int argc, char **argv, Options &out);
void printUsage(std::FILE *to);
