#include "poll.h"

#include "transport.h"

#include <QMetaMethod>
#include <chrono>

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

void LinkPoll::send() {
    sendPending_ = false;
    if (!port_.isOpen()) {
        emit slotFinished(slot_, {SlotOutcome::PortClosed});
        nextSlot();
        return;
    }
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
    const SlotResult result{SlotOutcome::Valid, RejectReason::None, 0, micros, int(request_.count)};
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

void LinkPoll::flushLate() {
    if (late_.isEmpty())
        return;
    if (recording()) {
        const int slave = lateSlot_ >= 0 ? lateRequest_.slave : std::uint8_t(late_.bytes()[0]);
        recordInput(late_, 0, late_.bytes().size(), FrameVerdict::Late, lateSlot_, slave);
    }
    late_.clear(-1);
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
    emit slotFinished(slot_, result);
    nextSlot();
}

bool LinkPoll::recording() const {
    static const QMetaMethod signal = QMetaMethod::fromSignal(&LinkPoll::frame);
    return isSignalConnected(signal);
}

FrameRecord LinkPoll::record(FrameVerdict verdict, qint64 nanos) const {
    using namespace std::chrono;
    FrameRecord r;
    const qint64 wallNow =
        duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    r.monoMicros = nanos / 1000;
    r.wallMicros = wallNow - (monotonicNanos() - nanos) / 1000;
    r.verdict = verdict;
    r.slot = slot_;
    r.slave = request_.slave;
    return r;
}

void LinkPoll::recordInput(const Arrivals &in, qsizetype from, qsizetype to, FrameVerdict verdict,
                           int slot, int slave, const SlotResult *result) {
    FrameRecord r = record(verdict, in.arrival(from));
    r.slot = slot;
    r.slave = slave;
    r.bytes = in.bytes().sliced(from, to - from);
    const qint64 silence = in.silenceBefore(from);
    r.silenceMicros = silence < 0 ? -1 : silence / 1000;
    r.pieces = in.piecesIn(from, to);
    if (result) {
        r.registers = result->values;
        r.responseMicros = result->responseMicros;
        r.exceptionCode = result->exceptionCode;
    }
    emit frame(r);
}

void LinkPoll::recordWait(std::optional<Span> reply, FrameVerdict verdict,
                          const SlotResult &result) {
    const qsizetype echo = echoLength(input_.bytes(), sent_);
    const qsizetype size = input_.bytes().size();
    const int slave = request_.slave;
    if (echo > 0)
        recordInput(input_, 0, echo, FrameVerdict::Echo, slot_, slave);
    if (!reply) {
        // The wait ended without a frame: whatever came was rejected.
        if (size > echo)
            recordInput(input_, echo, size, verdict, slot_, slave);
        const qint64 now = monotonicNanos();
        FrameRecord r = record(FrameVerdict::TimeOut, now);
        r.responseMicros = result.responseMicros;
        r.silenceMicros = (now - std::max(lastInput_, requestEnd_)) / 1000;
        emit frame(r);
        return;
    }
    const auto [from, to] = *reply;
    if (from > echo)
        recordInput(input_, echo, from, FrameVerdict::Noise, slot_, slave);
    recordInput(input_, from, to, verdict, slot_, slave, &result);
    if (to < size)
        recordInput(input_, to, size, FrameVerdict::Noise, slot_, slave);
}

} // namespace modbus
