#pragma once

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

// The frame with its Modbus CRC appended, low byte first. Computed here bit by bit, apart from
// the station's table, so that the tests judge frames by a CRC of their own.
QByteArray withCrc(QByteArray frame);
bool crcHolds(QByteArrayView frame);

// What plant-sim --static serves: register a of slave s holds (s * 1000 + a) & 0xFFFF.
constexpr std::uint16_t staticValue(int slave, int address) {
    return std::uint16_t((slave * 1000 + address) & 0xFFFF);
}

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
