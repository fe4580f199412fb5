#include "poll.h"

#include "transport.h"

namespace modbus {
namespace {
// Far more than any reply; bytes past it are line noise and only the newest are kept.
constexpr qsizetype receiveLimit = 2048;

FrameVerdict verdictOf(RejectReason reason) {
    switch (reason) {
    case RejectReason::BadCrc:
        return FrameVerdict::BadCrc;
    case RejectReason::WrongSlave:
        return FrameVerdict::WrongSlave;
    case RejectReason::WrongLength:
        return FrameVerdict::WrongLength;
    default:
        return FrameVerdict::Noise;
    }
}

// The bytes end with a whole answer to `request`.
bool endsWithFrame(QByteArrayView bytes, const ReadRequest &request) {
    const ReplyCheck check = checkReply(bytes, request);
    return check.status != ReplyStatus::Incomplete && check.at + check.length == bytes.size();
}

} // namespace

LinkPoll::LinkPoll(SerialTransport &port, PollBinding binding, QObject *parent)
    : QObject(parent)
    , port_(port)
    , binding_(std::move(binding))
    , timing_(lineTiming(port.lineSettings())) {
    qRegisterMetaType<modbus::FrameRecord>();
    kick_.setSingleShot(true);
    kick_.setInterval(0);
    connect(&kick_, &QTimer::timeout, this, &LinkPoll::nextSlot);
    timeout_.setSingleShot(true);
    timeout_.setTimerType(Qt::PreciseTimer);
    connect(&timeout_, &QTimer::timeout, this, &LinkPoll::onTimeout);
    quiet_.setSingleShot(true);
    quiet_.setTimerType(Qt::PreciseTimer);
    connect(&quiet_, &QTimer::timeout, this, &LinkPoll::onQuiet);
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
    sendPending_ = false;
    kick_.stop();
    timeout_.stop();
    quiet_.stop();
}

void LinkPoll::nextSlot() {
    while (running_ && ++slot_ < slotCount) {
        if (!binding_.slotEnabled(slot_)) {
            emit slotFinished(slot_, {SlotOutcome::Disabled});
            continue;
        }
        binding_.setColour(slot_, SlotColour::Polling);
        if (!slotRequest()) {
            binding_.setColour(slot_, SlotColour::TimedOut);
            emit slotFinished(slot_, {SlotOutcome::NotSent});
            continue;
        }
        if (!port_.isOpen()) {
            emit slotFinished(slot_, {SlotOutcome::PortClosed});
            continue;
        }
        sendPending_ = true;
        onQuiet();
        return;
    }
    if (!running_)
        return;
    for (int slot = 0; slot < slotCount; ++slot)
        binding_.setColour(slot, SlotColour::Idle);
    running_ = false;
    emit finished();
}

qint64 LinkPoll::quietAt() const {
    const auto after = [](qint64 at, nanoseconds d) { return at < 0 ? at : at + d.count(); };
    return std::max({after(lastInput_, settled_ ? timing_.interFrame : timing_.settle),
                     after(requestEnd_, timing_.interFrame), guardUntil_});
}

void LinkPoll::armQuiet(qint64 nanos) {
    // Rounded up: the timer counts whole milliseconds and must not fire early.
    quiet_.start(int((std::max<qint64>(nanos, 0) + 999'999) / 1'000'000));
}

void LinkPoll::onQuiet() {
    pullWaiting();
    const qint64 now = monotonicNanos();
    if (waiting_) {
        // A complete frame of the reply's shape with wrong check bytes, and the line quiet since.
        if (!endsWithGarbledReply(replyBytes(), request_))
            return;
        const qint64 due = lastInput_ + timing_.interFrame.count();
        if (now < due)
            return armQuiet(due - now);
        const qsizetype end = input_.bytes().size();
        const SlotResult result{SlotOutcome::NoReply, RejectReason::BadCrc, 0,
                                clock_.nsecsElapsed() / 1000};
        if (recording())
            recordWait(Span{end - replyLength(request_.count), end}, FrameVerdict::BadCrc, result);
        endWait(result, true);
        return;
    }
    const qint64 due = quietAt();
    if (now < due)
        return armQuiet(due - now);
    flushLate();
    if (sendPending_)
        send();
}

std::optional<ReadRequest> LinkPoll::slotRequest() const {
    return readRequestFromTexts(binding_.slaveText(slot_), binding_.startText(),
                                binding_.countText());
}

void LinkPoll::send() {
    sendPending_ = false;
    // The texts as they stand when the request goes out: edits made while the line settled count.
    const auto request = slotRequest();
    if (!request)
        binding_.setColour(slot_, SlotColour::TimedOut);
    if (!request || !port_.isOpen()) {
        emit slotFinished(slot_, {request ? SlotOutcome::PortClosed : SlotOutcome::NotSent});
        nextSlot();
        return;
    }
    request_ = *request;
    sent_ = requestFrame(request_);
    const qint64 now = monotonicNanos();
    if (recording()) {
        FrameRecord r = record(FrameVerdict::Request, now);
        r.direction = FrameDirection::Out;
        r.bytes = sent_;
        const qint64 before = std::max(lastInput_, requestEnd_);
        r.silenceMicros = before < 0 ? -1 : (now - before) / 1000;
        emit frame(r);
    }
    requestEnd_ = now + timing_.frame(sent_.size()).count();
    input_.clear(requestEnd_);
    lateSlot_ = -1;
    waiting_ = true;
    clock_.start();
    timeout_.start(timeoutMs_);
    port_.write(sent_);
    emit requestSent(slot_);
}

void LinkPoll::pullWaiting() {
    // Bytes the port holds but has not announced yet.
    if (port_.isOpen() && port_.bytesWaiting() > 0)
        onData();
}

QByteArrayView LinkPoll::replyBytes() const {
    return QByteArrayView(input_.bytes()).sliced(echoLength(input_.bytes(), sent_));
}

void LinkPoll::onData() {
    if (!port_.isOpen())
        return;
    const QByteArray piece = port_.readAll();
    if (piece.isEmpty())
        return;
    const qint64 now = monotonicNanos();
    if (!waiting_)
        return takeLate(piece, now);
    input_.add(piece, now);
    input_.keepLast(receiveLimit);
    lastInput_ = now;
    settled_ = false;
    const QByteArrayView rest = replyBytes();
    const ReplyCheck check = checkReply(rest, request_);
    if (check.status == ReplyStatus::Incomplete) {
        if (endsWithGarbledReply(rest, request_))
            armQuiet(timing_.interFrame.count());
        return;
    }
    const qint64 micros = clock_.nsecsElapsed() / 1000;
    const qsizetype from = input_.bytes().size() - rest.size() + check.at;
    const qsizetype to = from + check.length;
    const bool settled = to == input_.bytes().size();
    if (check.status == ReplyStatus::Exception) {
        const SlotResult result{SlotOutcome::Exception, RejectReason::None, check.exceptionCode,
                                micros};
        if (recording())
            recordWait(Span{from, to}, FrameVerdict::Exception, result);
        endWait(result, settled);
        return;
    }
    for (int r = 0; r < request_.count; ++r)
        binding_.setCell(r + 1, slot_, cellText(check.values[std::size_t(r)]));
    SlotResult result{SlotOutcome::Valid, RejectReason::None, 0, micros, int(request_.count)};
    result.request = request_;
    result.registers = std::move(check.values);
    if (recording())
        recordWait(Span{from, to}, FrameVerdict::Valid, result);
    endWait(result, settled);
}

void LinkPoll::takeLate(const QByteArray &piece, qint64 now) {
    if (late_.isEmpty())
        late_.clear(std::max(lastInput_, requestEnd_));
    late_.add(piece, now);
    late_.keepLast(receiveLimit);
    lastInput_ = now;
    settled_ = lateSlot_ >= 0 && endsWithFrame(late_.bytes(), lateRequest_);
    if (lateSlot_ >= 0 && !lateCounted_) {
        lateCounted_ = true;
        emit lateReply(lateSlot_);
    }
    if (!quiet_.isActive())
        armQuiet(quietAt() - now);
}

void LinkPoll::onTimeout() {
    if (!waiting_)
        return;
    // A reply that arrived just before the deadline may not have been announced yet.
    pullWaiting();
    if (!waiting_)
        return;
    const QByteArrayView rest = replyBytes();
    const SlotResult result{SlotOutcome::NoReply, classifyRejected(rest, request_), 0,
                            clock_.nsecsElapsed() / 1000};
    if (recording())
        recordWait(std::nullopt, verdictOf(result.reject), result);
    // A reply may still be on its way: its bytes are late, and the line gets a guard.
    lateSlot_ = slot_;
    lateRequest_ = request_;
    lateCounted_ = false;
    guardUntil_ = monotonicNanos() + timing_.guard.count();
    endWait(result, rest.isEmpty());
}

void LinkPoll::endWait(SlotResult result, bool settled) {
    waiting_ = false;
    settled_ = settled;
    timeout_.stop();
    quiet_.stop();
    if (result.outcome != SlotOutcome::Valid)
        binding_.setColour(slot_, SlotColour::TimedOut);
    result.request = request_;
    emit slotFinished(slot_, result);
    nextSlot();
}

} // namespace modbus
