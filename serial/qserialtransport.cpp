#include "qserialtransport.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {
// Holds a whole reply of the largest block the station can ask for: 5 + 2 x 255 bytes.
constexpr qint64 receiveBufferSize = 4096;
} // namespace

QSerialTransport::QSerialTransport(QObject *parent)
    : SerialTransport(parent) {
    port_.setReadBufferSize(receiveBufferSize);
    connect(&port_, &QSerialPort::readyRead, this, &SerialTransport::dataReceived);
    connect(&port_, &QSerialPort::errorOccurred, this, &QSerialTransport::onError);
}

QSerialTransport::QSerialTransport(const QString &devicePattern, QObject *parent)
    : QSerialTransport(parent) {
    devicePattern_ = devicePattern;
}

bool QSerialTransport::open() {
    if (port_.isOpen())
        return true;
    // QSerialPort's own lock file is named after the device it opens: the real one.
    const QString device = portlock::realDevice(deviceName());
    // Lock files of the name the station was given count too (another program may have used it).
    lock_.emplace(device, QStringList{deviceName()});
    if (!lock_->isHeld())
        return refuse(lock_->refusal());
    // The library also sets the terminal's exclusive mode, so that no other program opens it.
    port_.setPortName(lock_->openPath());
    if (!port_.open(QIODevice::ReadWrite))
        return refuse(QStringLiteral("%1: %2").arg(device, port_.errorString()));
    const LineSettings line = lineSettings();
    const bool configured =
        port_.setBaudRate(line.baud) &&
        // A Modbus line with a parity bit uses even parity.
        port_.setParity(line.parity ? QSerialPort::EvenParity : QSerialPort::NoParity) &&
        port_.setDataBits(QSerialPort::DataBits(line.dataBits)) &&
        port_.setStopBits(line.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop) &&
        port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        const QString why = QStringLiteral("%1: %2").arg(device, port_.errorString());
        port_.close();
        return refuse(why);
    }
    port_.clear(QSerialPort::Input);
    lastOpenError_.clear();
    openNotice_ = lock_->notice();
    return true;
}

bool QSerialTransport::refuse(const QString &why) {
    lastOpenError_ = why;
    lock_.reset();
    return false;
}

void QSerialTransport::close() {
    if (!port_.isOpen())
        return;
    port_.close();
    lock_.reset();
    emit closed();
}

bool QSerialTransport::isOpen() const {
    return port_.isOpen();
}

void QSerialTransport::write(const QByteArray &bytes) {
    qsizetype done = 0;
#ifdef Q_OS_UNIX
    // An 8-byte request fits the driver's buffer: written straight away it costs one system
    // call, where QSerialPort's own write path switches its notifier on and off around it.
    if (port_.bytesToWrite() == 0) {
        const ssize_t n = ::write(port_.handle(), bytes.constData(), size_t(bytes.size()));
        done = n > 0 ? n : 0;
    }
#endif
    if (done < bytes.size()) {
        // The rest (or all, on a full or failing driver) takes QSerialPort's path, which also
        // reports a failing device.
        port_.write(bytes.constData() + done, bytes.size() - done);
        port_.flush();
    }
}

qint64 QSerialTransport::bytesWaiting() const {
    return port_.bytesAvailable();
}

QByteArray QSerialTransport::readAll() {
    return port_.readAll();
}

void QSerialTransport::discardInput() {
    port_.readAll();
    port_.clear(QSerialPort::Input);
}

QString QSerialTransport::deviceName() const {
    return devicePattern_ ? portDevice(portNumber(), *devicePattern_) : portDevice(portNumber());
}

void QSerialTransport::onError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
    case QSerialPort::OpenError:
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::UnsupportedOperationError:
        return; // reported through open()'s result, or harmless
    default:
        break;
    }
    if (!port_.isOpen())
        return;
    // A vanished pseudo-terminal peer makes QSerialPort report ReadError without end; closing
    // the port at the first report stops that.
    const QString why = port_.errorString();
    port_.clearError();
    close();
    emit portLost(why);
}
