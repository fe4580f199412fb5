#include "transport.h"

#include <QRegularExpression>
#include <QtGlobal>

bool SerialTransport::setPortNumber(int number) {
    if (number < 1 || number > 32767)
        return false;
    portNumber_ = number;
    return true;
}

QString portDevice(int number) {
    return portDevice(number, qEnvironmentVariable("RTU_STATION_PORTS"));
}

QString portDevice(int number, const QString &pattern) {
    if (!pattern.isEmpty())
        return pattern.arg(number);
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}

std::optional<QString> portPatternProblem(const QString &pattern) {
    if (pattern.isEmpty())
        return std::nullopt;
    // The markers QString::arg would replace: a percent sign, an optional L, digits.
    static const QRegularExpression marker(QStringLiteral("%L?[0-9]+"));
    bool hasNumber = false;
    for (auto it = marker.globalMatch(pattern); it.hasNext();) {
        const QString found = it.next().captured();
        if (found != QLatin1String("%1"))
            return QStringLiteral("has the place marker ") + found;
        hasNumber = true;
    }
    if (!hasNumber)
        return QStringLiteral("has no %1");
    return std::nullopt;
}
