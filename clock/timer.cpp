#include "clock.h"

namespace clk {

Timer::Timer(Clock &clock, QObject *parent)
    : QObject(parent)
    , clock_(clock)
    , alarm_(clock.alarm(this)) {
    connect(alarm_, &Alarm::timeout, this, [this] {
        if (!singleShot_)
            start();
        emit timeout();
    });
}

void Timer::start() {
    alarm_->startAt(clock_.now() + qint64(intervalMs_) * 1'000'000);
}

} // namespace clk
