#pragma once

#include <QProcessEnvironment>
#include <optional>

// What is wrong with the station's settings in its environment, before anything starts: a
// problem the launcher found in the settings file (it hands it over in
// RTU_STATION_SETTINGS_ERROR), or a RTU_STATION_* value with a control character in it, most
// often the CR of a settings file with Windows line ends that reached the environment some other
// way.
std::optional<QString> settingsProblem(const QProcessEnvironment &environment);
