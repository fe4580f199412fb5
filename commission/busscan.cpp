#include "busscan.h"

namespace commission {

BusScan::BusScan(modbus::LinkPoll &poll, QObject *parent)
    : QObject(parent)
    , poll_(poll) {
    qRegisterMetaType<commission::Found>();
    connect(&poll_, &modbus::LinkPoll::answered, this, &BusScan::onAnswer);
}

BusScan::~BusScan() {
    if (running_)
        poll_.pauseSlots(false);
}

bool BusScan::start(const ScanPlan &plan) {
    if (running_ || plan.addresses.empty() || poll_.isAsking())
        return false;
    plan_ = plan;
    found_.clear();
    next_ = 0;
    running_ = true;
    stopping_ = false;
    poll_.pauseSlots(true);
    emit progress(0, total());
    askNext();
    return true;
}

void BusScan::stop() {
    if (!running_)
        return;
    stopping_ = true;
    if (!outstanding_)
        finish(false);
}

void BusScan::askNext() {
    if (stopping_ || next_ >= total())
        return finish(!stopping_);
    modbus::Question question = plan_.question;
    question.request.slave = plan_.addresses[std::size_t(next_)];
    outstanding_ = poll_.ask(question);
    if (!outstanding_) // another question holds the poll: the scan cannot go on
        finish(false);
}

void BusScan::onAnswer(const modbus::Answer &answer) {
    if (!outstanding_)
        return; // someone else's question
    outstanding_ = false;
    ++next_;
    const auto outcome = answer.outcome;
    if (outcome == modbus::SlotOutcome::Valid || outcome == modbus::SlotOutcome::Exception) {
        found_.push_back({answer.question.request.slave, answer});
        emit slaveFound(found_.back());
    }
    emit progress(next_, total());
    if (outcome == modbus::SlotOutcome::PortClosed)
        return finish(false);
    askNext();
}

void BusScan::finish(bool complete) {
    running_ = false;
    poll_.pauseSlots(false);
    emit finished(complete);
}

} // namespace commission
