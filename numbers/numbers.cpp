#include "numbers.h"

#include <QString>
#include <cmath>
#include <limits>

namespace modbus {
namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

int digitValue(QChar c, int base) {
    const char16_t u = c.unicode();
    int d = -1;
    if (u >= u'0' && u <= u'9')
        d = u - u'0';
    else if (u >= u'a' && u <= u'f')
        d = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        d = u - u'A' + 10;
    return d < base ? d : -1;
}

// Reads the longest number at the start of s. Returns the value and how many characters it took;
// 0 characters when s does not start with a number.
struct Scan {
    double value = 0;
    qsizetype used = 0;
};

Scan scanNumber(QStringView s) {
    qsizetype i = 0;
    const qsizetype n = s.size();
    if (n >= 2 && s[0] == u'&') {
        const QChar kind = s[1].toUpper();
        const int base = kind == u'H' ? 16 : kind == u'O' ? 8 : 0;
        if (base != 0) {
            double v = 0;
            i = 2;
            while (i < n && digitValue(s[i], base) >= 0)
                v = v * base + digitValue(s[i++], base);
            return {v, i};
        }
    }
    bool negative = false;
    if (i < n && (s[i] == u'+' || s[i] == u'-'))
        negative = s[i++] == u'-';
    QString plain;
    bool anyDigit = false;
    while (i < n && s[i].isDigit() && s[i].unicode() < 128) {
        plain += s[i++];
        anyDigit = true;
    }
    if (i < n && s[i] == u'.') {
        qsizetype j = i + 1;
        QString fraction;
        while (j < n && s[j].isDigit() && s[j].unicode() < 128)
            fraction += s[j++];
        if (anyDigit || !fraction.isEmpty()) {
            plain += u'.' + fraction;
            anyDigit = true;
            i = j;
        }
    }
    if (!anyDigit)
        return {};
    if (i < n && QStringView(u"EeDd").contains(s[i])) {
        qsizetype j = i + 1;
        QString exponent = QStringLiteral("e");
        if (j < n && (s[j] == u'+' || s[j] == u'-'))
            exponent += s[j++];
        const qsizetype digitsFrom = j;
        while (j < n && s[j].isDigit() && s[j].unicode() < 128)
            exponent += s[j++];
        if (j > digitsFrom) {
            plain += exponent;
            i = j;
        }
    }
    const double v = plain.toDouble();
    return {negative ? -v : v, i};
}

} // namespace

double lenientNumber(QStringView text) {
    QString compact;
    compact.reserve(text.size());
    for (QChar c : text)
        if (!isBlank(c))
            compact += c;
    return scanNumber(compact).value;
}

// Only the station's own blanks surround a number; a carriage return or a no-break space does not.
QStringView withoutBlanksAround(QStringView text) {
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

std::optional<double> strictNumber(QStringView text) {
    const QStringView s = withoutBlanksAround(text);
    if (s.isEmpty())
        return std::nullopt;
    const Scan scan = scanNumber(s);
    if (scan.used != s.size() || (scan.used == 2 && s[0] == u'&'))
        return std::nullopt;
    if (!std::isfinite(scan.value))
        return std::nullopt;
    return scan.value;
}

std::optional<std::int32_t> roundToInt32(double value) {
    if (!std::isfinite(value))
        return std::nullopt;
    const double r = std::nearbyint(value); // default rounding mode: halves to even
    if (r < std::numeric_limits<std::int32_t>::min() ||
        r > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(r);
}

} // namespace modbus
