#include "transport.h"

#include <QtGlobal>

bool SerialTransport::setPortNumber(int number) {
    if (number < 1 || number > 32767)
        return false;
    portNumber_ = number;
    return true;
}

QString portDevice(int number) {
    const QString pattern = qEnvironmentVariable("RTU_STATION_PORTS");
    if (!pattern.isEmpty())
        return pattern.arg(number);
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}
