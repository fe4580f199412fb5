#include "poll.h"

#include "transport.h"

namespace modbus {
namespace {
// Far more than any reply; bytes past it are line noise and only the newest are kept.
constexpr qsizetype receiveLimit = 2048;
} // namespace

LinkPoll::LinkPoll(SerialTransport &port, PollBinding binding, QObject *parent)
    : QObject(parent)
    , port_(port)
    , binding_(std::move(binding)) {
    kick_.setSingleShot(true);
    kick_.setInterval(0);
    connect(&kick_, &QTimer::timeout, this, &LinkPoll::nextSlot);
    timeout_.setSingleShot(true);
    timeout_.setTimerType(Qt::PreciseTimer);
    connect(&timeout_, &QTimer::timeout, this, &LinkPoll::onTimeout);
    connect(&port_, &SerialTransport::dataReceived, this, &LinkPoll::onData);
    // A port that closes under a wait ends it at once, as a time-out.
    connect(&port_, &SerialTransport::closed, this, &LinkPoll::onTimeout);
}

bool LinkPoll::start() {
    if (running_)
        return false;
    running_ = true;
    slot_ = -1;
    kick_.start();
    return true;
}

void LinkPoll::cancel() {
    running_ = false;
    waiting_ = false;
    kick_.stop();
    timeout_.stop();
}

void LinkPoll::nextSlot() {
    while (running_ && ++slot_ < slotCount) {
        if (!binding_.slotEnabled(slot_)) {
            emit slotFinished(slot_, {SlotOutcome::Disabled});
            continue;
        }
        binding_.setColour(slot_, SlotColour::Polling);
        const auto request = readRequestFromTexts(binding_.slaveText(slot_), binding_.startText(),
                                                  binding_.countText());
        if (!request) {
            binding_.setColour(slot_, SlotColour::TimedOut);
            emit slotFinished(slot_, {SlotOutcome::NotSent});
            continue;
        }
        if (!port_.isOpen()) {
            emit slotFinished(slot_, {SlotOutcome::PortClosed});
            continue;
        }
        request_ = *request;
        // Whatever is still waiting answers an earlier request.
        port_.discardInput();
        received_.clear();
        waiting_ = true;
        clock_.start();
        timeout_.start(timeoutMs_);
        port_.write(requestFrame(request_));
        emit requestSent(slot_);
        return;
    }
    if (!running_)
        return;
    for (int slot = 0; slot < slotCount; ++slot)
        binding_.setColour(slot, SlotColour::Idle);
    running_ = false;
    emit finished();
}

void LinkPoll::onData() {
    if (!waiting_) {
        if (port_.isOpen())
            port_.discardInput(); // no request outstanding: nothing here can be a reply
        return;
    }
    received_ += port_.readAll();
    if (received_.size() > receiveLimit)
        received_ = received_.right(receiveLimit / 2);
    ReplyCheck check = checkReply(received_, request_);
    if (check.status == ReplyStatus::Incomplete)
        return;
    const qint64 micros = clock_.nsecsElapsed() / 1000;
    if (check.status == ReplyStatus::Exception) {
        endWait({SlotOutcome::Exception, RejectReason::None, check.exceptionCode, micros});
        return;
    }
    for (int r = 0; r < request_.count; ++r)
        binding_.setCell(r + 1, slot_, cellText(check.values[std::size_t(r)]));
    endWait({SlotOutcome::Valid, RejectReason::None, 0, micros, int(request_.count), request_,
             std::move(check.values)});
}

void LinkPoll::onTimeout() {
    if (!waiting_)
        return;
    // A reply that arrived just before the deadline may not have been announced yet.
    if (port_.isOpen() && port_.bytesWaiting() > 0) {
        onData();
        if (!waiting_)
            return;
    }
    endWait({SlotOutcome::NoReply, classifyRejected(received_, request_), 0,
             clock_.nsecsElapsed() / 1000});
}

void LinkPoll::endWait(SlotResult result) {
    waiting_ = false;
    timeout_.stop();
    if (result.outcome != SlotOutcome::Valid)
        binding_.setColour(slot_, SlotColour::TimedOut);
    emit slotFinished(slot_, result);
    nextSlot();
}

} // namespace modbus
