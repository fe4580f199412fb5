#include "slotdescription.h"

namespace {

QString millis(qint64 micros) {
    return micros < 0 ? QStringLiteral("-")
                      : QStringLiteral("%1 ms").arg(micros / 1000.0, 0, 'f', 1);
}

QString when(const QDateTime &t) {
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                       : QStringLiteral("never");
}

} // namespace

QString describeSlot(const modbus::SlotStats &s, const QString &slaveText, bool enabled) {
    QStringList lines;
    lines << QStringLiteral("Slave %1%2")
                 .arg(slaveText.isEmpty() ? QStringLiteral("(none)") : slaveText,
                      enabled ? QString() : QStringLiteral(", not polled"));
    lines << QStringLiteral("Requests: %1, valid replies: %2").arg(s.requests).arg(s.valid);
    lines << (s.late ? QStringLiteral("Time-outs: %1 (late replies dropped %2)")
                           .arg(s.timeouts)
                           .arg(s.late)
                     : QStringLiteral("Time-outs: %1").arg(s.timeouts));
    lines << QStringLiteral("Rejected: %1 (CRC %2, wrong slave %3, wrong length %4, noise %5)")
                 .arg(s.rejected())
                 .arg(s.badCrc)
                 .arg(s.wrongSlave)
                 .arg(s.wrongLength)
                 .arg(s.garbage);
    lines << (s.exceptions ? QStringLiteral("Exceptions: %1 (last code %2)")
                                 .arg(s.exceptions)
                                 .arg(s.lastExceptionCode)
                           : QStringLiteral("Exceptions: 0"));
    if (s.lineBusy)
        lines << QStringLiteral("Line busy: %1 (no request sent)").arg(s.lineBusy);
    lines << QStringLiteral("Response: last %1, average %2")
                 .arg(millis(s.lastResponseMicros), millis(s.averageResponseMicros()));
    lines << QStringLiteral("Last valid reply: %1").arg(when(s.lastValid));
    if (s.failingSince.isValid())
        lines << QStringLiteral("Failing since: %1").arg(when(s.failingSince));
    return lines.join(u'\n');
}
