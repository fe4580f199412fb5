#include "statefolder.h"

#include <QCoreApplication>
#include <QDir>

QString snapshotFilePath() {
    const QString folder = qEnvironmentVariable("RTU_STATION_STATE_DIR");
    return QDir(folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder)
        .filePath(QStringLiteral("mwRARE.csv"));
}
