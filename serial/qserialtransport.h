#pragma once

#include "transport.h"

#include <QSerialPort>

// The station's serial port: 38400 baud, no parity, 8 data bits, 1 stop bit.
class QSerialTransport : public SerialTransport {
    Q_OBJECT
public:
    explicit QSerialTransport(QObject *parent = nullptr);

    bool open() override;
    void close() override;
    bool isOpen() const override;
    void write(const QByteArray &bytes) override;
    qint64 bytesWaiting() const override;
    QByteArray readAll() override;
    void discardInput() override;
    QString deviceName() const override;

private:
    void onError(QSerialPort::SerialPortError error);

    QSerialPort port_;
};
