#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// The plant simulator in a process of its own, its links in a temporary directory.
class PlantSim {
public:
    explicit PlantSim(QStringList extraArgs = {});
    ~PlantSim();

    // Starts it and waits, bounded, until both links exist.
    bool start();
    QString dir() const { return dir_.path(); }
    // The RTU_STATION_PORTS pattern that reaches its links.
    QString portPattern() const { return dir_.filePath(QStringLiteral("COM%1")); }
    // A control command ("drop 0", "restore 0"); waits for its "ok".
    bool command(const QString &line);
    // Stops it and returns its closing counts line.
    QString stop();

private:
    bool waitForLine(const QString &prefix, QString *line, int timeoutMs);

    QTemporaryDir dir_;
    QStringList args_;
    QProcess process_;
    QByteArray pending_;
};
