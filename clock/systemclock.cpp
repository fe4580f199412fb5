#include "clock.h"

#include <QTimer>
#include <chrono>

#ifdef Q_OS_LINUX
#include <QSocketNotifier>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace clk {
namespace {

qint64 steadyNanos() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

#ifdef Q_OS_LINUX
// A timerfd on CLOCK_MONOTONIC (the steady clock's own) set to the absolute moment: the event
// loop wakes on the descriptor, not on a millisecond timer rounded up.
class FdAlarm : public Alarm {
public:
    explicit FdAlarm(QObject *parent)
        : Alarm(parent)
        , fd_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC))
        , notifier_(fd_, QSocketNotifier::Read, this) {
        connect(&notifier_, &QSocketNotifier::activated, this, [this] {
            quint64 expirations = 0;
            if (::read(fd_, &expirations, sizeof expirations) != sizeof expirations || !active_)
                return;
            active_ = false;
            emit timeout();
        });
    }
    ~FdAlarm() override { ::close(fd_); }
    void startAt(qint64 nanos) override {
        // Zero would disarm: a moment already past becomes the earliest one there is.
        nanos = std::max<qint64>(nanos, 1);
        itimerspec at{};
        at.it_value = {time_t(nanos / 1'000'000'000), long(nanos % 1'000'000'000)};
        active_ = ::timerfd_settime(fd_, TFD_TIMER_ABSTIME, &at, nullptr) == 0;
    }
    void stop() override {
        active_ = false;
        const itimerspec off{};
        ::timerfd_settime(fd_, 0, &off, nullptr);
    }
    bool isActive() const override { return active_; }

private:
    int fd_;
    QSocketNotifier notifier_;
    bool active_ = false;
};
using SystemAlarm = FdAlarm;
#else
// A precise Qt timer, rounded up to whole milliseconds and checked again when it fires.
class TimerAlarm : public Alarm {
public:
    explicit TimerAlarm(QObject *parent)
        : Alarm(parent) {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (steadyNanos() < at_)
                return startAt(at_);
            emit timeout();
        });
    }
    void startAt(qint64 nanos) override {
        at_ = nanos;
        timer_.start(int((std::max<qint64>(nanos - steadyNanos(), 0) + 999'999) / 1'000'000));
    }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }

private:
    QTimer timer_;
    qint64 at_ = 0;
};
using SystemAlarm = TimerAlarm;
#endif

class SystemClock : public Clock {
public:
    qint64 now() const override { return steadyNanos(); }
    Alarm *alarm(QObject *parent) override { return new SystemAlarm(parent); }
    qint64 wallMicros(qint64 nanos) const override {
        using namespace std::chrono;
        const qint64 wallNow =
            duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
        return wallNow - (steadyNanos() - nanos) / 1000;
    }
};

} // namespace

Clock &systemClock() {
    static SystemClock clock;
    return clock;
}

} // namespace clk
