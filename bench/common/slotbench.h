#pragma once

#include "poll.h"

#include <QString>
#include <functional>
#include <vector>

namespace bench {

// The station's poll of one link over its real serial transport, with slot 0 alone enabled,
// asking one slave for one register block, pass after pass.
struct SlotBenchSetup {
    int portNumber = 5; // opened through RTU_STATION_PORTS
    QString slave = QStringLiteral("2");
    QString start = QStringLiteral("1139");
    QString count = QStringLiteral("12");
    int transactions = 1000;
    int replyTimeoutMs = modbus::LinkPoll::defaultTimeoutMs;
    modbus::SlotOutcome expected = modbus::SlotOutcome::Valid;
    // Valid turns: the values reported, in register order; true when they are right.
    std::function<bool(const std::vector<std::uint16_t> &values)> checkValues;
};

struct SlotBenchResult {
    bool opened = false;
    std::vector<double> turnMs;    // requestSent to slotFinished, turns with the expected outcome
    std::vector<double> stationMs; // the poll's own responseMicros of the same turns
    std::vector<double> cycleMs; // one requestSent to the next: a turn with the quiet line after it
    int unexpected = 0;          // turns with another outcome, or wrong cells
    bool timedOut = false;       // the whole run overran its bound
};

// Runs the passes in the calling thread's event loop; returns when all are done or, at the
// latest, after transactions x (time-out + 1 s).
SlotBenchResult runSlotBench(const SlotBenchSetup &setup);

} // namespace bench
