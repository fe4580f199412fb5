#include "frametext.h"

#include <QDateTime>

namespace traffic {

using modbus::FrameVerdict;

QString verdictName(FrameVerdict verdict) {
    switch (verdict) {
    case FrameVerdict::Request:
        return QStringLiteral("request");
    case FrameVerdict::Valid:
        return QStringLiteral("valid");
    case FrameVerdict::Exception:
        return QStringLiteral("exception");
    case FrameVerdict::BadCrc:
        return QStringLiteral("bad CRC");
    case FrameVerdict::WrongSlave:
        return QStringLiteral("wrong slave");
    case FrameVerdict::WrongLength:
        return QStringLiteral("wrong length");
    case FrameVerdict::Noise:
        return QStringLiteral("noise");
    case FrameVerdict::Late:
        return QStringLiteral("late");
    case FrameVerdict::Echo:
        return QStringLiteral("echo");
    case FrameVerdict::TimeOut:
        return QStringLiteral("time-out");
    case FrameVerdict::LineBusy:
        return QStringLiteral("line busy");
    case FrameVerdict::Link:
        return QStringLiteral("link");
    }
    return {};
}

QString exceptionName(int code) {
    switch (code) {
    case 1:
        return QStringLiteral("Illegal function");
    case 2:
        return QStringLiteral("Illegal data address");
    case 3:
        return QStringLiteral("Illegal data value");
    case 4:
        return QStringLiteral("Slave device failure");
    case 5:
        return QStringLiteral("Acknowledge");
    case 6:
        return QStringLiteral("Slave device busy");
    case 8:
        return QStringLiteral("Memory parity error");
    case 10:
        return QStringLiteral("Gateway path unavailable");
    case 11:
        return QStringLiteral("Gateway target device failed to respond");
    }
    return {};
}

QString registerValues(const modbus::FrameRecord &frame) {
    // A reply: address, function, byte count, the values high byte first, CRC.
    if (frame.verdict != FrameVerdict::Valid || frame.start < 0 ||
        frame.bytes.size() < 5 + 2 * qsizetype(frame.registers))
        return {};
    QStringList values;
    values.reserve(frame.registers);
    for (int r = 0; r < frame.registers; ++r) {
        const int value =
            std::uint8_t(frame.bytes[3 + 2 * r]) << 8 | std::uint8_t(frame.bytes[4 + 2 * r]);
        values << QStringLiteral("%1=%2").arg(frame.start + r).arg(value);
    }
    return values.join(QStringLiteral(", "));
}

QString verdictDetail(const modbus::FrameRecord &frame, qsizetype byteCount) {
    QStringList parts;
    switch (frame.verdict) {
    case FrameVerdict::Valid: {
        QString text = QStringLiteral("%1 registers in %2 ms")
                           .arg(frame.registers)
                           .arg(millis(frame.responseMicros));
        if (const QString values = registerValues(frame); !values.isEmpty())
            text += QStringLiteral(": ") + values;
        parts << text;
        break;
    }
    case FrameVerdict::Exception: {
        const QString name = exceptionName(frame.exceptionCode);
        parts << QStringLiteral("code %1%2 in %3 ms")
                     .arg(frame.exceptionCode)
                     .arg(name.isEmpty() ? QString() : QStringLiteral(" ") + name)
                     .arg(millis(frame.responseMicros));
        break;
    }
    case FrameVerdict::TimeOut:
        parts << QStringLiteral("no reply in %1 ms").arg(millis(frame.responseMicros));
        break;
    case FrameVerdict::LineBusy:
        parts << QStringLiteral("no quiet line in %1 ms, nothing sent")
                     .arg(millis(frame.responseMicros));
        break;
    case FrameVerdict::Link:
        return frame.note;
    default:
        break;
    }
    if (byteCount > frame.bytes.size())
        parts << QStringLiteral("%1 bytes, first %2 kept").arg(byteCount).arg(frame.bytes.size());
    else if (frame.verdict == FrameVerdict::Noise || frame.verdict == FrameVerdict::Late)
        parts << QStringLiteral("%1 bytes").arg(byteCount);
    if (frame.pieces > 1)
        parts << QStringLiteral("%1 pieces").arg(frame.pieces);
    return parts.join(QStringLiteral(", "));
}

QString directionText(const modbus::FrameRecord &frame) {
    if (frame.verdict == FrameVerdict::Link)
        return QStringLiteral("-");
    return frame.direction == modbus::FrameDirection::Out ? QStringLiteral("out")
                                                          : QStringLiteral("in");
}

QString wallTime(qint64 wallMicros) {
    const auto time = QDateTime::fromMSecsSinceEpoch(wallMicros / 1000);
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.")) +
           QStringLiteral("%1").arg(wallMicros % 1000000, 6, 10, QLatin1Char('0'));
}

QString millis(qint64 micros) {
    if (micros < 0)
        return QStringLiteral("-");
    return QString::number(double(micros) / 1000.0, 'f', 3);
}

QString hexBytes(const QByteArray &bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QByteArray captureHeader() {
    return QByteArrayLiteral("time\tlink\tdirection\tslave\thex\tsilence\tverdict\tdetail\n");
}

QByteArray captureLine(const modbus::FrameRecord &frame, qsizetype byteCount) {
    const QStringList fields{wallTime(frame.wallMicros),
                             QString::number(frame.link),
                             directionText(frame),
                             frame.slave < 0 ? QStringLiteral("-") : QString::number(frame.slave),
                             hexBytes(frame.bytes),
                             millis(frame.silenceMicros),
                             verdictName(frame.verdict),
                             verdictDetail(frame, byteCount)};
    return fields.join(QLatin1Char('\t')).toUtf8() + '\n';
}

} // namespace traffic
