#include "statefolder.h"

#include <QCoreApplication>
#include <QDir>

QString snapshotFilePath(const QString &stateFolder) {
    return QDir(stateFolder.isEmpty() ? QCoreApplication::applicationDirPath() : stateFolder)
        .filePath(QStringLiteral("mwRARE.csv"));
}
