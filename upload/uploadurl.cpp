#include "uploadurl.h"

#include <QtGlobal>

QString serverAddress() {
    const QString server = qEnvironmentVariable("RTU_STATION_SERVER");
    return server.isEmpty() ? QStringLiteral("localhost") : server;
}

QString uploadUrl(const QString &server, const QString &line) {
    return QStringLiteral("http://") + server +
           QStringLiteral("/telvaro/rtu/masterdata/rare.php?dta=") + line;
}
