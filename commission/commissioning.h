#pragma once

#include "poll.h"

#include <QString>
#include <QStringView>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

namespace commission {

// One register of a reply, read every way a slave may mean it. The pair columns read this
// register with the next one as a 32-bit value: high word first (this register holds the high
// half) and low word first; the last register has no pair.
struct RegisterRow {
    int address = 0;
    std::uint16_t value = 0;
    std::int16_t signedValue = 0;
    struct Pair {
        std::int32_t highFirst = 0;
        std::int32_t lowFirst = 0;
        float floatHighFirst = 0;
        float floatLowFirst = 0;
    };
    std::optional<Pair> pair;
};

std::vector<RegisterRow> decodeRegisters(int start, std::span<const std::uint16_t> values);

// The texts of a row, in the order of decodedHeaders().
QStringList decodedTexts(const RegisterRow &row);
QStringList decodedHeaders();

// What a scan asks: each address of the range in turn, for one register of the given function.
struct ScanPlan {
    std::vector<std::uint8_t> addresses;
    modbus::Question question; // the slave of its request is set for each address
};

// What the operator typed, or why it cannot go on the wire.
template <class T> using Checked = std::variant<QString, T>;

constexpr int firstSlaveAddress = 1;
constexpr int lastSlaveAddress = 247;
constexpr int defaultScanTimeoutMs = 50;
constexpr int maxReadCount = 125;

// The range from..to (1..247), the time-out in ms (10..1000) and the register asked (the
// production block's start, 0..65535).
Checked<ScanPlan> scanPlan(QStringView from, QStringView to, QStringView timeoutMs,
                           QStringView startRegister);

// A one-off read: slave 1..247, start 0..65535 (decimal or 0x hex), count 1..125 within the
// address space, function 3 or 4. The question is asked with `timeoutMs`.
Checked<modbus::Question> oneOffRead(QStringView slave, QStringView start, QStringView count,
                                     int function, int timeoutMs);

struct SlotState {
    bool enabled = false;
    QString slave;
};
// Where a found slave goes: the ticked slot already asking it, else the first unticked slot;
// none when all four are ticked for other slaves.
std::optional<int> freeSlot(std::span<const SlotState> slotStates, int slave);

// What a scanned address said, in one line: "3 registers: 1139 = 2139", "exception 2 Illegal
// data address".
QString answerText(const modbus::Answer &answer);

} // namespace commission
