#pragma once

#include <QObject>
#include <QtGlobal>

namespace clk {

// A single-shot alarm: fires once at the time it was set for, unless stopped or set again first.
class Alarm : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Monotonic nanoseconds on the alarm's clock; a time already past fires at once.
    virtual void startAt(qint64 nanos) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;

signals:
    void timeout();
};

// Where time comes from: the monotonic now, and alarms on the same count.
class Clock {
public:
    virtual ~Clock() = default;
    virtual qint64 now() const = 0; // monotonic nanoseconds
    // A new alarm owned by `parent`.
    virtual Alarm *alarm(QObject *parent) = 0;
    // Wall-clock microseconds since the epoch at monotonic `nanos`.
    virtual qint64 wallMicros(qint64 nanos) const = 0;
};

// The system's monotonic clock; on Linux its alarms wake within microseconds.
Clock &systemClock();

// A repeating or single-shot interval timer on a clock.
class Timer : public QObject {
    Q_OBJECT
public:
    Timer(Clock &clock, QObject *parent = nullptr);

    void setInterval(int ms) { intervalMs_ = ms; }
    int interval() const { return intervalMs_; }
    void setSingleShot(bool single) { singleShot_ = single; }
    // Counts the interval from now, restarting a running count.
    void start();
    void stop() { alarm_->stop(); }
    bool isActive() const { return alarm_->isActive(); }

signals:
    void timeout();

private:
    Clock &clock_;
    Alarm *alarm_;
    int intervalMs_ = 0;
    bool singleShot_ = false;
};

} // namespace clk
