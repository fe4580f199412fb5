// libFuzzer target for the number readers and the request read from the operator's texts, each
// checked against a reference worked out here.
//
// Input: the whole input is one text (UTF-8); split at 0xFF bytes it gives the slave, start and
// count texts; its first bytes also give a double, an integer and where blanks go.
#include "frame.h"
#include "numbers.h"

#include <QString>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

namespace {

[[noreturn]] void fail(const char *what, const QString &text, double value = 0) {
    std::fprintf(stderr, "property violated: %s\ntext (UTF-16 hex): %s\nvalue: %.17g\n", what,
                 QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2)
                     .toHex(' ')
                     .constData(),
                 value);
    std::abort();
}

// The station's blanks: ignored anywhere by the lenient reader.
bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool sameNumber(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

// Nearest integer with halves to the even neighbour, from floor and the exact fraction.
std::optional<std::int32_t> referenceRound(double value) {
    if (!std::isfinite(value))
        return std::nullopt;
    const double low = std::floor(value);
    const double fraction = value - low; // exact for every finite double
    double r = low;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(low, 2.0) != 0.0))
        r = low + 1;
    if (r < -2147483648.0 || r > 2147483647.0)
        return std::nullopt;
    return static_cast<std::int32_t>(r);
}

void checkRounding(double value) {
    if (modbus::roundToInt32(value) != referenceRound(value))
        fail("roundToInt32 differs from banker's rounding", {}, value);
}

void checkReaders(const QString &text) {
    const double lenient = modbus::lenientNumber(text);
    checkRounding(lenient);
    const std::optional<double> strict = modbus::strictNumber(text);
    if (!strict)
        return;
    if (!std::isfinite(*strict))
        fail("strictNumber gave a value that is not finite", text, *strict);
    checkRounding(*strict);
    const QString inner = text.trimmed();
    for (QChar c : inner)
        if (c.isSpace())
            return; // blanks inside: the two readers may part
    if (!sameNumber(*strict, lenient))
        fail("strictNumber and lenientNumber disagree", text, *strict);
}

// The request the texts must give: every field rounded and in range, else none.
std::optional<modbus::ReadRequest> referenceRequest(const QString &slave, const QString &start,
                                                    const QString &count) {
    const auto s = modbus::strictNumber(slave);
    if (!s)
        return std::nullopt;
    const auto a = referenceRound(modbus::lenientNumber(start));
    const auto n = referenceRound(modbus::lenientNumber(count));
    const auto id = referenceRound(*s);
    if (!id || !a || !n || *id < 0 || *id > 255 || *a < 0 || *a > 65535 || *n < 0 || *n > 255)
        return std::nullopt;
    return modbus::ReadRequest{std::uint8_t(*id), std::uint16_t(*a), std::uint8_t(*n)};
}

void checkRequest(const QString &slave, const QString &start, const QString &count) {
    const auto request = modbus::readRequestFromTexts(slave, start, count);
    const auto expected = referenceRequest(slave, start, count);
    if (request != expected)
        fail("readRequestFromTexts differs from the texts' values",
             slave + u'|' + start + u'|' + count);
}

// Texts written here from known numbers read back as those numbers.
void checkWrittenNumbers(const std::uint8_t *data, std::size_t size) {
    if (size < 12)
        return;
    std::int32_t whole;
    std::memcpy(&whole, data, sizeof whole);
    double real;
    std::memcpy(&real, data + 4, sizeof real);
    checkRounding(real);
    checkRounding(std::floor(real) + 0.5);

    const QString decimal = QString::number(whole);
    if (modbus::strictNumber(decimal) != double(whole) || modbus::lenientNumber(decimal) != whole)
        fail("a decimal integer did not read back", decimal, whole);
    if (modbus::readRequestFromTexts(decimal, decimal, decimal).has_value() !=
        (whole >= 0 && whole <= 255))
        fail("an integer slave, start and count were taken or refused wrongly", decimal, whole);

    // Blanks put in anywhere are ignored by the lenient reader and refused inside by the strict.
    QString spaced;
    const char16_t blanks[] = {u' ', u'\t', u'\n'};
    const std::size_t places = size - 12;
    for (qsizetype i = 0; i < decimal.size(); ++i) {
        if (places > 0) {
            const std::uint8_t where = data[12 + std::size_t(i) % places];
            if ((where & 0x3) == 0)
                spaced += QChar(blanks[(where >> 2) % 3]);
        }
        spaced += decimal[i];
    }
    if (modbus::lenientNumber(spaced) != whole)
        fail("blanks changed the lenient reading", spaced, whole);
    const QString inner = spaced.trimmed();
    bool blankInside = false;
    for (QChar c : inner)
        blankInside = blankInside || isBlank(c);
    if (blankInside && modbus::strictNumber(spaced))
        fail("the strict reader took a number with blanks inside", spaced, whole);

    const std::uint32_t bits = std::uint32_t(whole);
    const QString hex = QStringLiteral("&H") + QString::number(bits, 16);
    const QString octal = QStringLiteral("&o") + QString::number(bits, 8);
    for (const QString &t : {hex, hex.toUpper(), octal})
        if (modbus::lenientNumber(t) != bits || modbus::strictNumber(t) != double(bits))
            fail("a hexadecimal or octal number did not read back", t, bits);

    if (std::isfinite(real)) {
        for (char format : {'g', 'e', 'f'}) {
            if (format == 'f' && std::fabs(real) > 1e30)
                continue; // hundreds of digits: nothing more to learn
            const QString written = QString::number(real, format, 17);
            const double back = written.toDouble();
            if (modbus::lenientNumber(written) != back || modbus::strictNumber(written) != back)
                fail("a written real did not read back", written, real);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    checkReaders(text);

    QString parts[3];
    int part = 0;
    std::size_t from = 0;
    for (std::size_t i = 0; i <= size && part < 3; ++i) {
        if (i == size || data[i] == 0xFF) {
            parts[part++] =
                QString::fromUtf8(reinterpret_cast<const char *>(data) + from, qsizetype(i - from));
            from = i + 1;
        }
    }
    for (int p = 0; p < part; ++p)
        checkReaders(parts[p]);
    checkRequest(parts[0], parts[1], parts[2]);

    checkWrittenNumbers(data, size);
    return 0;
}
