#pragma once

#include "linesettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <optional>

// One link's byte transport: a serial port, or a fake in tests.
class SerialTransport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The port number the next open uses; it keeps its value when a new number is refused.
    int portNumber() const { return portNumber_; }
    bool setPortNumber(int number);

    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual void write(const QByteArray &bytes) = 0;
    virtual qint64 bytesWaiting() const = 0;
    virtual QByteArray readAll() = 0;
    virtual void discardInput() = 0;
    // Device the current port number names.
    virtual QString deviceName() const = 0;
    // Why the latest open failed (device missing, taken by another process); empty after a
    // successful open.
    virtual QString lastOpenError() const { return {}; }
    // What the operator should know about the open port (a stale lock file left in place).
    virtual QString openNotice() const { return {}; }
    // The character format the line runs; every link runs the station's.
    virtual LineSettings lineSettings() const { return stationLine; }

signals:
    void dataReceived();
    // The port failed under the station (device gone, read error); it has been closed.
    void portLost(const QString &why);
    void closed();

private:
    int portNumber_ = 1;
};

// Device path for port number N: the device pattern (RTU_STATION_PORTS) with %1 for N when it
// is set, else COMN on Windows and /dev/ttyS<N-1> elsewhere.
QString portDevice(int number, const QString &pattern);
// The same with RTU_STATION_PORTS as the environment holds it now.
QString portDevice(int number);

// What is wrong with a device pattern for RTU_STATION_PORTS, or nothing when it is usable: it
// needs %1 for the port number, and no other place marker (%2, %L1, %0, %10 and the like would
// be taken for it or left in the name). An empty pattern is unset.
std::optional<QString> portPatternProblem(const QString &pattern);
