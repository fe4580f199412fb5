#pragma once

#include "frames.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <vector>

namespace soak {

// A whole number from the environment (a long hand-run variant), else the fallback.
int envInt(const char *name, int fallback);

// Runs the event loop for a measurement window. QTest::qWait wakes every 10 ms to look around,
// which costs more CPU than an idle station; this sleeps until something is due.
void runEventLoop(int ms);

// CPU time this process has used, user and system, in seconds.
double cpuSeconds();
// Descriptors this process holds open.
int openDescriptors();
// Descriptors this process holds on pseudo-terminal devices.
int openTerminals();

// The frames of the tests' slaves, by the tests' own CRC (frames.h).
using ::crcHolds;
using ::staticValue;
using ::withCrc;

// The reply a --static slave sends for a read of count registers from start.
QByteArray staticReply(int slave, int start, int count);

// The snapshot file as a reader must always find it: one line, ten commas, the last one right
// before the CR LF that ends it.
bool isWholeSnapshotLine(QByteArrayView content);

// One reply as plant-sim's --record file tells it: the values one reply carried.
struct ServedReply {
    qint64 timeMs = 0; // wall clock when it was written, ms since the epoch
    int link = 0;
    int slave = 0;
    int firstRegister = 0;
    std::vector<std::uint16_t> values;
    QString kind; // ok, late or corrupt
};

// The record file grouped into replies; false when a line does not read.
bool readRecord(const QString &path, std::vector<ServedReply> &out, QString *why);

} // namespace soak
