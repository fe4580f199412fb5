#pragma once

#include "clock.h"

#include <functional>
#include <vector>

// Time that moves only when a test moves it. Alarms fire in the order of their moments, each
// with the clock standing at its moment; events posted meanwhile run before time moves on.
class FakeClock : public clk::Clock {
public:
    static constexpr qint64 ms = 1'000'000;

    qint64 now() const override { return now_; }
    clk::Alarm *alarm(QObject *parent) override;
    qint64 wallMicros(qint64 nanos) const override { return nanos / 1000; }

    // Runs `what` once `nanos` from now.
    void after(qint64 nanos, std::function<void()> what);
    // Moves time on, alarm by alarm, until `done` holds or `limit` nanoseconds have passed.
    bool runUntil(const std::function<bool()> &done, qint64 limit = 60'000 * ms);
    void advance(qint64 nanos) {
        runUntil([] { return false; }, nanos);
    }

private:
    friend class FakeAlarm;
    std::vector<class FakeAlarm *> alarms_;
    qint64 now_ = 1'000'000'000;
    quint64 sequence_ = 0;
    QObject owner_; // of the alarms `after` makes
};
