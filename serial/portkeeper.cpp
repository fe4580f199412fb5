#include "portkeeper.h"

#include "transport.h"

PortKeeper::PortKeeper(SerialTransport &port, QObject *parent, int unitMs)
    : QObject(parent)
    , port_(port)
    , unitMs_(unitMs) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &PortKeeper::retry);
    connect(&port_, &SerialTransport::portLost, this, [this](const QString &why) {
        lost_ = true;
        retrying_ = true;
        failures_ = 0;
        lastTry_ = QDateTime::currentDateTime();
        lastError_ = why;
        schedule();
    });
}

int PortKeeper::retryDelayMs(int failures, int unitMs) {
    // A device that comes back at once (a replug, a prober letting go) is met within a second;
    // one that stays away costs a try every few seconds.
    const int units = failures < 5 ? 1 : failures < 10 ? 2 : 5;
    return units * unitMs;
}

void PortKeeper::operatorConnected() {
    lost_ = false;
    failures_ = 0;
    lastTry_ = QDateTime::currentDateTime();
    lastError_ = port_.isOpen() ? QString() : port_.lastOpenError();
    retrying_ = !port_.isOpen();
    if (retrying_)
        schedule();
    else
        timer_.stop();
}

void PortKeeper::operatorDisconnected() {
    retrying_ = false;
    lost_ = false;
    timer_.stop();
}

bool PortKeeper::tryReopen() {
    if (!retrying_)
        return port_.isOpen();
    lastTry_ = QDateTime::currentDateTime();
    if (port_.isOpen() || port_.open()) {
        retrying_ = lost_ = false;
        lastError_.clear();
        timer_.stop();
        emit reopened();
        return true;
    }
    ++failures_;
    const QString why = port_.lastOpenError();
    const bool newReason = why != lastError_;
    lastError_ = why;
    schedule();
    emit tryFailed(why, newReason);
    return false;
}

void PortKeeper::retry() {
    tryReopen();
}

void PortKeeper::schedule() {
    const int delay = retryDelayMs(failures_, unitMs_);
    nextTry_ = QDateTime::currentDateTime().addMSecs(delay);
    timer_.start(delay);
}
