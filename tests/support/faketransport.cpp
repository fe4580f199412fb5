#include "faketransport.h"

#include <algorithm>
#include <chrono>

namespace {
qint64 now() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}
} // namespace

bool FakeTransport::open() {
    ++opens;
    open_ = open_ || openSucceeds;
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
    writeNanos.push_back(now());
    if (onWrite)
        onWrite(bytes);
}

void FakeTransport::feed(const QByteArray &bytes) {
    feedQuietly(bytes);
    emit dataReceived();
}

void FakeTransport::feedQuietly(const QByteArray &bytes) {
    input_ += bytes;
    feedNanos.push_back(now());
}

qint64 FakeTransport::lastFeedBefore(qint64 nanos) const {
    const auto it = std::lower_bound(feedNanos.begin(), feedNanos.end(), nanos);
    return it == feedNanos.begin() ? -1 : *std::prev(it);
}

void FakeTransport::fail(const QString &why) {
    close();
    emit portLost(why);
}
