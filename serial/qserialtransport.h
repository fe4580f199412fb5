#pragma once

#include "portlock.h"
#include "transport.h"

#include <QSerialPort>
#include <optional>

// The station's serial port: 38400 baud, no parity, 8 data bits, 1 stop bit. It opens the
// real device behind the configured name and holds it against every other open while open.
class QSerialTransport : public SerialTransport {
    Q_OBJECT
public:
    // Devices named by RTU_STATION_PORTS as the environment holds it at each open.
    explicit QSerialTransport(QObject *parent = nullptr);
    // Devices named by the given pattern (see portDevice).
    QSerialTransport(const QString &devicePattern, QObject *parent);

    bool open() override;
    void close() override;
    bool isOpen() const override;
    void write(const QByteArray &bytes) override;
    qint64 bytesWaiting() const override;
    QByteArray readAll() override;
    void discardInput() override;
    QString deviceName() const override;
    QString lastOpenError() const override { return lastOpenError_; }
    QString openNotice() const override { return isOpen() ? openNotice_ : QString(); }

private:
    void onError(QSerialPort::SerialPortError error);
    bool refuse(const QString &why);

    // Declared before the port, so the port closes before the device's lock goes.
    std::optional<portlock::DeviceLock> lock_;
    QSerialPort port_;
    QString lastOpenError_;
    QString openNotice_;
    std::optional<QString> devicePattern_; // none: the environment's
};
