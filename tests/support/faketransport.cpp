#include "faketransport.h"

bool FakeTransport::open() {
    ++opens;
    open_ = open_ || openSucceeds;
    lastOpenError_ = open_ ? QString() : openError;
    return open_;
}

void FakeTransport::close() {
    if (!open_)
        return;
    open_ = false;
    input_.clear();
    emit closed();
}

void FakeTransport::write(const QByteArray &bytes) {
    writes << bytes;
    if (onWrite)
        onWrite(bytes);
}

void FakeTransport::feed(const QByteArray &bytes) {
    input_ += bytes;
    emit dataReceived();
}

void FakeTransport::fail(const QString &why) {
    close();
    emit portLost(why);
}
