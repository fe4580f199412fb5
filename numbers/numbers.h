#pragma once

#include <QStringView>
#include <cstdint>
#include <optional>

namespace modbus {

// The number at the start of the text: "." decimal point, optional exponent, blanks, tabs and
// line feeds ignored anywhere, "&H"/"&O" prefixes for hexadecimal and octal digits. A text that
// does not start with a number reads as 0.
double lenientNumber(QStringView text);

// The whole text (blanks around it allowed) read as one number, or nothing.
std::optional<double> strictNumber(QStringView text);

// Nearest 32-bit integer, halves to the even neighbour (12.5 -> 12, 13.5 -> 14); nothing when the
// value is not finite or falls outside the 32-bit range.
std::optional<std::int32_t> roundToInt32(double value);

} // namespace modbus
