#include "faketransport.h"

#include <algorithm>

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
    writeNanos.push_back(clock->now());
    if (onWrite)
        onWrite(bytes);
}

void FakeTransport::feed(const QByteArray &bytes) {
    feedQuietly(bytes);
    emit dataReceived();
}

void FakeTransport::feedQuietly(const QByteArray &bytes) {
    input_ += bytes;
    feedNanos.push_back(clock->now());
}

qint64 FakeTransport::lastFeedBefore(qint64 nanos) const {
    const auto it = std::lower_bound(feedNanos.begin(), feedNanos.end(), nanos);
    return it == feedNanos.begin() ? -1 : *std::prev(it);
}

void FakeTransport::fail(const QString &why) {
    close();
    emit portLost(why);
}
