#include "commissioning.h"

#include "frametext.h"

#include <bit>
#include <cmath>

namespace commission {
namespace {

// A whole number, decimal or 0x hexadecimal, blanks around it allowed.
std::optional<long> wholeNumber(QStringView text) {
    const QStringView t = text.trimmed();
    bool ok = false;
    long value = 0;
    if (t.startsWith(u"0x", Qt::CaseInsensitive))
        value = t.sliced(2).toLong(&ok, 16);
    else
        value = t.toLong(&ok, 10);
    return ok ? std::optional(value) : std::nullopt;
}

std::variant<QString, long> inRange(QStringView text, const QString &name, long low, long high) {
    const auto value = wholeNumber(text);
    if (!value)
        return text.trimmed().isEmpty()
                   ? QStringLiteral("%1 is empty: give a number from %2 to %3")
                         .arg(name)
                         .arg(low)
                         .arg(high)
                   : QStringLiteral("%1 \"%2\" is not a whole number").arg(name, text.toString());
    if (*value < low || *value > high)
        return QStringLiteral("%1 %2 is out of range: %3 to %4")
            .arg(name)
            .arg(*value)
            .arg(low)
            .arg(high);
    return *value;
}

std::int32_t joined(std::uint16_t high, std::uint16_t low) {
    return std::bit_cast<std::int32_t>(std::uint32_t(high) << 16 | low);
}

float joinedFloat(std::uint16_t high, std::uint16_t low) {
    return std::bit_cast<float>(std::uint32_t(high) << 16 | low);
}

QString floatText(float f) {
    if (std::isnan(f))
        return QStringLiteral("NaN");
    if (std::isinf(f))
        return f < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
    return QString::number(double(f), 'g', 7);
}

} // namespace

std::vector<RegisterRow> decodeRegisters(int start, std::span<const std::uint16_t> values) {
    std::vector<RegisterRow> rows;
    rows.reserve(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        RegisterRow row{start + int(i), values[i], std::bit_cast<std::int16_t>(values[i]), {}};
        if (i + 1 < values.size()) {
            const std::uint16_t a = values[i], b = values[i + 1];
            row.pair =
                RegisterRow::Pair{joined(a, b), joined(b, a), joinedFloat(a, b), joinedFloat(b, a)};
        }
        rows.push_back(row);
    }
    return rows;
}

QStringList decodedHeaders() {
    return {QStringLiteral("Register"),       QStringLiteral("Unsigned"),
            QStringLiteral("Signed"),         QStringLiteral("Hex"),
            QStringLiteral("Int32 high-low"), QStringLiteral("Int32 low-high"),
            QStringLiteral("Float high-low"), QStringLiteral("Float low-high")};
}

QStringList decodedTexts(const RegisterRow &row) {
    QStringList texts{QString::number(row.address), QString::number(row.value),
                      QString::number(row.signedValue),
                      QStringLiteral("%1").arg(row.value, 4, 16, QLatin1Char('0')).toUpper()};
    if (row.pair)
        texts << QString::number(row.pair->highFirst) << QString::number(row.pair->lowFirst)
              << floatText(row.pair->floatHighFirst) << floatText(row.pair->floatLowFirst);
    else
        texts << QString() << QString() << QString() << QString();
    return texts;
}

Checked<ScanPlan> scanPlan(QStringView from, QStringView to, QStringView timeoutMs,
                           QStringView startRegister) {
    const auto first =
        inRange(from, QStringLiteral("First address"), firstSlaveAddress, lastSlaveAddress);
    const auto last =
        inRange(to, QStringLiteral("Last address"), firstSlaveAddress, lastSlaveAddress);
    const auto timeout = inRange(timeoutMs, QStringLiteral("Time-out"), 10, 1000);
    const auto start = inRange(startRegister, QStringLiteral("Start register"), 0, 65535);
    for (const auto *checked : {&first, &last, &timeout, &start})
        if (const auto *error = std::get_if<QString>(checked))
            return *error;
    const long a = std::get<long>(first), b = std::get<long>(last);
    if (a > b)
        return QStringLiteral("First address %1 is above the last, %2").arg(a).arg(b);
    ScanPlan plan;
    for (long address = a; address <= b; ++address)
        plan.addresses.push_back(std::uint8_t(address));
    plan.question = {{0, std::uint16_t(std::get<long>(start)), 1, 3}, int(std::get<long>(timeout))};
    return plan;
}

Checked<modbus::Question> oneOffRead(QStringView slave, QStringView start, QStringView count,
                                     int function, int timeoutMs) {
    const auto s = inRange(slave, QStringLiteral("Slave"), firstSlaveAddress, lastSlaveAddress);
    const auto a = inRange(start, QStringLiteral("Start"), 0, 65535);
    const auto n = inRange(count, QStringLiteral("Count"), 1, maxReadCount);
    for (const auto *checked : {&s, &a, &n})
        if (const auto *error = std::get_if<QString>(checked))
            return *error;
    if (function != 3 && function != 4)
        return QStringLiteral("Function %1 is not a register read: 3 or 4").arg(function);
    const long first = std::get<long>(a), registers = std::get<long>(n);
    if (first + registers - 1 > 65535)
        return QStringLiteral("Start %1 and count %2 run past register 65535")
            .arg(first)
            .arg(registers);
    return modbus::Question{{std::uint8_t(std::get<long>(s)), std::uint16_t(first),
                             std::uint8_t(registers), std::uint8_t(function)},
                            timeoutMs};
}

std::optional<int> freeSlot(std::span<const SlotState> slotStates, int slave) {
    for (std::size_t i = 0; i < slotStates.size(); ++i)
        if (slotStates[i].enabled && wholeNumber(slotStates[i].slave) == slave)
            return int(i);
    for (std::size_t i = 0; i < slotStates.size(); ++i)
        if (!slotStates[i].enabled)
            return int(i);
    return std::nullopt;
}

QString answerText(const modbus::Answer &answer) {
    using modbus::SlotOutcome;
    switch (answer.outcome) {
    case SlotOutcome::Valid: {
        QStringList values;
        const int start = answer.question.request.start;
        for (std::size_t i = 0; i < answer.registers.size(); ++i)
            values << QStringLiteral("%1 = %2").arg(start + int(i)).arg(answer.registers[i]);
        return values.join(QStringLiteral(", "));
    }
    case SlotOutcome::Exception: {
        const QString name = traffic::exceptionName(answer.exceptionCode);
        return QStringLiteral("exception %1%2")
            .arg(answer.exceptionCode)
            .arg(name.isEmpty() ? QString() : QStringLiteral(" ") + name);
    }
    case SlotOutcome::PortClosed:
        return QStringLiteral("port closed, nothing sent");
    case SlotOutcome::LineBusy:
        return QStringLiteral("line never quiet, nothing sent");
    default:
        return QStringLiteral("no reply");
    }
}

} // namespace commission
