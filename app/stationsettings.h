#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <optional>

// What the station takes from its environment, read once at start-up and handed to the parts
// that need it.
struct StationSettings {
    QString portPattern; // RTU_STATION_PORTS: device of port N, %1 for N; empty: the system's
    QString server;      // RTU_STATION_SERVER, trimmed; "localhost" when unset or blank
    std::optional<QString> serverProblem; // why the server setting is refused, if it is
    QString capturePath;                  // RTU_STATION_TRAFFIC; empty: no capture file
    QString stateFolder;                  // RTU_STATION_STATE_DIR; empty: beside the program

    static StationSettings fromEnvironment(
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
};
