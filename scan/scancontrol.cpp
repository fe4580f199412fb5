#include "scancontrol.h"

#include "clock.h"
#include "poll.h"

#include <QPushButton>
#include <QTimer>

namespace scan {

ScanControl::ScanControl(ScanControls controls, QObject *parent)
    : QObject(parent)
    , c_(std::move(controls)) {
    for (int link = 0; link < modbus::linkCount; ++link)
        connect(c_.polls[link], &modbus::LinkPoll::finished, this,
                [this, link] { onPollFinished(link); });
}

void ScanControl::autoscan() {
    if (cancelled_)
        return;
    c_.cycleTimer->stop();
    if (c_.testButton->isEnabled())
        c_.testButton->setEnabled(false);
    if (cycleRunning())
        return; // the cycle under way switches the timer on again when it ends
    if (c_.scanSwitch->text() != scanOffCaption) {
        c_.cycleTimer->start();
        return;
    }
    emit cycleStarted();
    runLink(0);
}

void ScanControl::runLink(int link) {
    stage_ = link == 0 ? Stage::Link0 : Stage::Link1;
    if (c_.modes[link]->text() == autoCaption) {
        modbus::LinkPoll *poll = c_.polls[link];
        // A poll already under way (a "Test" click) is waited for, never doubled.
        if (!poll->isRunning())
            poll->start();
        return;
    }
    onPollFinished(link);
}

void ScanControl::onPollFinished(int link) {
    if (cancelled_)
        return;
    if (link == 0 && stage_ == Stage::Link0)
        runLink(1);
    else if (link == 1 && stage_ == Stage::Link1)
        endCycle();
}

void ScanControl::endCycle() {
    stage_ = Stage::Idle;
    if (c_.snapshot)
        c_.snapshot();
    c_.cycleTimer->start();
    emit cycleFinished();
}

void ScanControl::scanSwitchClicked() {
    if (c_.scanSwitch->text() == scanOnCaption) {
        c_.scanSwitch->setText(scanOffCaption);
        autoscan();
    } else {
        c_.scanSwitch->setText(scanOnCaption);
    }
}

void ScanControl::startTimerTicked() {
    c_.startTimer->stop();
    if (started_)
        return; // a second delivery of the one tick
    started_ = true;
    scanSwitchClicked();
}

void ScanControl::modeClicked(int link) {
    QPushButton *mode = c_.modes[link];
    mode->setText(mode->text() == manualCaption ? autoCaption : manualCaption);
}

void ScanControl::testEnablerClicked() {
    if (c_.testEnabler->text() == manualCaption) {
        c_.testEnabler->setText(autoCaption);
        c_.testButton->setEnabled(false);
    } else {
        c_.testEnabler->setText(manualCaption);
        c_.testButton->setEnabled(true);
    }
}

void ScanControl::cancel() {
    cancelled_ = true;
    stage_ = Stage::Idle;
}

} // namespace scan
