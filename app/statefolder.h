#pragma once

#include <QString>

// Where the station writes its snapshot file mwRARE.csv: in the state folder
// (RTU_STATION_STATE_DIR; the package's launcher sets its state folder there), else beside the
// program, as a build run from its own tree does.
QString snapshotFilePath(const QString &stateFolder);
