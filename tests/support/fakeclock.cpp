#include "fakeclock.h"

#include <QCoreApplication>
#include <algorithm>

class FakeAlarm : public clk::Alarm {
public:
    FakeAlarm(FakeClock &clock, QObject *parent)
        : clk::Alarm(parent)
        , clock_(clock) {
        clock_.alarms_.push_back(this);
    }
    ~FakeAlarm() override { std::erase(clock_.alarms_, this); }
    void startAt(qint64 nanos) override {
        at_ = nanos;
        order_ = ++clock_.sequence_;
        active_ = true;
    }
    void stop() override { active_ = false; }
    bool isActive() const override { return active_; }
    void fire() {
        active_ = false;
        emit timeout();
    }

    FakeClock &clock_;
    qint64 at_ = 0;
    quint64 order_ = 0;
    bool active_ = false;
};

clk::Alarm *FakeClock::alarm(QObject *parent) {
    return new FakeAlarm(*this, parent);
}

void FakeClock::after(qint64 nanos, std::function<void()> what) {
    auto *alarm = new FakeAlarm(*this, &owner_);
    QObject::connect(alarm, &clk::Alarm::timeout, alarm, [alarm, what = std::move(what)] {
        alarm->deleteLater();
        what();
    });
    alarm->startAt(now_ + nanos);
}

bool FakeClock::runUntil(const std::function<bool()> &done, qint64 limit) {
    const qint64 end = now_ + limit;
    for (;;) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        if (done())
            return true;
        FakeAlarm *next = nullptr;
        for (FakeAlarm *a : alarms_)
            if (a->active_ &&
                (!next || std::pair(a->at_, a->order_) < std::pair(next->at_, next->order_)))
                next = a;
        if (!next || next->at_ > end) {
            now_ = std::max(now_, end);
            return false;
        }
        now_ = std::max(now_, next->at_);
        next->fire();
    }
}
