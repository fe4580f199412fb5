#pragma once

#include <QString>
#include <array>
#include <vector>

class QApplication;

namespace bench {

// What the station's window did over a number of cycles with all eight slots enabled.
struct StationRun {
    // The time between the transactions, by where it falls: before the first request, between
    // two slots of a link, from link 0's last reply to link 1's first request, and from the last
    // reply to the cycle's end (snapshot line and file).
    enum Gap { BeforeFirst, BetweenSlots, BetweenLinks, AfterLast, GapKinds };

    std::vector<double> work;          // cycleStarted to cycleFinished, ms
    std::vector<double> transactionMs; // requestSent to a valid slotFinished
    std::vector<double> outsideMs;     // a cycle's work outside its transactions
    std::array<std::vector<double>, GapKinds> gapMs;
    int valid = 0;
    int other = 0;
    int badCycles = 0; // cycles without eight valid replies
    bool finished = false;
    int count = 0; // registers per read
};

// Runs the station's window (offscreen) against the links behind portPattern, link 1's slots
// set to ids1, until `cycles` cycles have ended; bounded by a time-out.
StationRun runStation(QApplication &app, const QString &portPattern, const QStringList &ids1,
                      int cycles);

} // namespace bench
