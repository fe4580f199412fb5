#include "stationsettings.h"

#include "traffic.h"
#include "uploadurl.h"

StationSettings StationSettings::fromEnvironment(const QProcessEnvironment &environment) {
    StationSettings settings;
    settings.portPattern = environment.value(QStringLiteral("RTU_STATION_PORTS"));
    settings.server = serverAddress(environment.value(QStringLiteral("RTU_STATION_SERVER")));
    settings.serverProblem = serverAddressProblem(settings.server);
    settings.capturePath = environment.value(QString::fromLatin1(traffic::captureVariable));
    settings.stateFolder = environment.value(QStringLiteral("RTU_STATION_STATE_DIR"));
    return settings;
}
