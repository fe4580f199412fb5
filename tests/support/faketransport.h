#pragma once

#include "clock.h"
#include "transport.h"

#include <QByteArrayList>
#include <functional>
#include <vector>

// A serial transport in memory: records what the station writes, and lets a test answer.
class FakeTransport : public SerialTransport {
    Q_OBJECT
public:
    using SerialTransport::SerialTransport;

    bool open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    void write(const QByteArray &bytes) override;
    qint64 bytesWaiting() const override { return input_.size(); }
    QByteArray readAll() override { return std::exchange(input_, {}); }
    void discardInput() override { input_.clear(); }
    QString deviceName() const override { return portDevice(portNumber()); }
    QString lastOpenError() const override { return lastOpenError_; }

    // Bytes arriving from the line, announced like a real port does.
    void feed(const QByteArray &bytes);
    // Bytes arriving without an announcement yet.
    void feedQuietly(const QByteArray &bytes);
    // The device fails under the station.
    void fail(const QString &why);

    bool openSucceeds = true;
    QString openError; // the reason a failed open gives
    int opens = 0;
    QByteArrayList writes;
    // Where the times below come from.
    const clk::Clock *clock = &clk::systemClock();
    // When each write and each fed piece happened, on that clock in nanoseconds.
    std::vector<qint64> writeNanos;
    std::vector<qint64> feedNanos;
    // The last piece fed before `nanos`, or -1.
    qint64 lastFeedBefore(qint64 nanos) const;
    // Called after each write; a test's slave answers from here (or later, by a timer).
    std::function<void(const QByteArray &request)> onWrite;

private:
    bool open_ = false;
    QString lastOpenError_;
    QByteArray input_;
};
