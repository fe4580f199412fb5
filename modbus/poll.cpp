#include "poll.h"

#include "transport.h"

#include <QMetaMethod>

namespace modbus {
namespace {
// Far more than any reply; bytes past it are line noise and only the newest are kept.
constexpr qsizetype receiveLimit = 2048;
// A guard learned from late replies stays within this many plain guards; a reply later still is
// recognised as late where it lands.
constexpr int guardGrowth = 2;

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

LinkPoll::LinkPoll(SerialTransport &port, PollBinding binding, QObject *parent, clk::Clock &clock)
    : QObject(parent)
    , port_(port)
    , binding_(std::move(binding))
    , clock_(clock)
    , alarm_(clock.alarm(this))
    , records_(clock, [this](const FrameRecord &r) { emit frame(r); })
    , timing_(lineTiming(port.lineSettings())) {
    qRegisterMetaType<modbus::FrameRecord>();
    connect(alarm_, &clk::Alarm::timeout, this, &LinkPoll::onAlarm);
    connect(&port_, &SerialTransport::dataReceived, this, &LinkPoll::onData);
    connect(&port_, &SerialTransport::closed, this, &LinkPoll::advance);
}

bool LinkPoll::start() {
    if (passRunning_)
        return false;
    passRunning_ = true;
    slot_ = -1;
    if (paused_) {
        // The slots wait: the pass ends from the event loop without waiting for a question
        // under way, so that the cycle goes on to the other link at once.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!passRunning_)
                    return;
                if (paused_) {
                    passRunning_ = false;
                    emit finished();
                } else if (phase_ == Phase::Idle) {
                    enter(Phase::NextSlot);
                }
            },
            Qt::QueuedConnection);
        return true;
    }
    if (phase_ == Phase::Idle)
        enter(Phase::NextSlot); // its deadline is now: the pass starts from the event loop
    return true;
}

bool LinkPoll::ask(const Question &question) {
    if (asking_ || pending_)
        return false;
    pending_ = question;
    if (phase_ == Phase::Idle)
        enter(Phase::NextSlot);
    return true;
}

void LinkPoll::cancel() {
    late_.clear(-1); // nothing more is recorded either
    pending_.reset();
    asking_ = false;
    passRunning_ = false;
    enter(Phase::Idle);
}

qint64 LinkPoll::passBoundNanos() const {
    return slotCount * (2 * nanosOf(timeoutMs_) + guardGrowth * timing_.guard.count());
}

// The one place the phase changes; the alarm follows it.
void LinkPoll::enter(Phase phase) {
    phase_ = phase;
    phaseStart_ = clock_.now();
    arm();
}

qint64 LinkPoll::deadline() const {
    switch (phase_) {
    case Phase::Idle:
        // Bytes between passes are recorded once the line is quiet after them.
        return late_.isEmpty() ? -1 : quietAt();
    case Phase::NextSlot:
        return phaseStart_;
    case Phase::Guard:
        return guardUntil_;
    case Phase::AwaitingQuiet:
        // A line that never goes quiet costs the slot one reply time-out, no more.
        return std::min(quietAt(), phaseStart_ + waitNanos());
    case Phase::AwaitingReply: {
        const qint64 due = written_ + waitNanos();
        const qint64 early = earlyEndAt();
        return early < 0 ? due : std::min(due, early);
    }
    }
    return -1;
}

void LinkPoll::arm() {
    const qint64 due = deadline();
    if (due < 0)
        alarm_->stop();
    else
        alarm_->startAt(due);
}

// The one place a phase ends: at its deadline, on bytes that complete it, or on the port closing.
// Whatever calls it, only the current phase's own conditions count, so an alarm left over from
// an earlier phase does nothing but set the alarm for this one.
void LinkPoll::advance() {
    const qint64 now = clock_.now();
    const bool open = port_.isOpen();
    switch (phase_) {
    case Phase::Idle:
        if (!late_.isEmpty() && now >= quietAt())
            flushLate();
        break;
    case Phase::NextSlot:
        return nextSlot();
    case Phase::Guard:
        if (!open)
            return finishSlot({SlotOutcome::PortClosed});
        if (now < guardUntil_)
            break;
        guardUntil_ = -1;
        return enter(Phase::AwaitingQuiet);
    case Phase::AwaitingQuiet:
        if (!open)
            return finishSlot({SlotOutcome::PortClosed});
        if (now >= quietAt())
            return send();
        if (now >= phaseStart_ + waitNanos())
            return endLineBusy();
        break;
    case Phase::AwaitingReply: {
        if (!open)
            return endRejected(WaitEnd::PortClosed); // nothing more can come
        const ReplyCheck check = checkReply(replyBytes(), request_);
        if (check.status != ReplyStatus::Incomplete)
            return endReply(check);
        if (now >= written_ + waitNanos())
            return endRejected(WaitEnd::TimedOut);
        if (const qint64 early = earlyEndAt(); early >= 0 && now >= early)
            return endRejected(WaitEnd::Early);
        break;
    }
    }
    arm();
}

void LinkPoll::onAlarm() {
    pullWaiting(); // bytes the port holds but has not announced may end the phase first
    advance();
}

// A question waiting goes before the next slot; a paused pass ends first, so that a run of
// questions never holds up the cycle.
void LinkPoll::nextSlot() {
    if (passRunning_ && paused_)
        return endPass();
    if (pending_)
        return askNow();
    if (!passRunning_)
        return enter(Phase::Idle);
    while (++slot_ < slotCount) {
        std::optional<SlotOutcome> skipped;
        if (!binding_.slotEnabled(slot_)) {
            skipped = SlotOutcome::Disabled;
        } else {
            binding_.setColour(slot_, SlotColour::Polling);
            if (!slotRequest())
                skipped = SlotOutcome::NotSent;
            else if (!port_.isOpen())
                skipped = SlotOutcome::PortClosed;
        }
        if (!skipped)
            return enter(guardUntil_ > clock_.now() ? Phase::Guard : Phase::AwaitingQuiet);
        if (!reported({*skipped}))
            return;
    }
    endPass();
}

void LinkPoll::endPass() {
    for (int slot = 0; slot < slotCount; ++slot)
        binding_.setColour(slot, SlotColour::Idle);
    passRunning_ = false;
    enter(pending_ ? Phase::NextSlot : Phase::Idle); // a question waiting goes out next
    emit finished();
}

void LinkPoll::askNow() {
    question_ = *std::exchange(pending_, std::nullopt);
    asking_ = true;
    if (!port_.isOpen())
        return finishSlot({SlotOutcome::PortClosed});
    enter(guardUntil_ > clock_.now() ? Phase::Guard : Phase::AwaitingQuiet);
}

// Tells the window how the slot's turn ended; false when the pass moved on or was cancelled
// meanwhile (a handler closed the port, or the window went), so the caller goes no further.
bool LinkPoll::reported(const SlotResult &result) {
    const int slot = slot_;
    switch (result.outcome) {
    case SlotOutcome::Disabled:
    case SlotOutcome::PortClosed:
    case SlotOutcome::Valid:
        break;
    default:
        binding_.setColour(slot_, SlotColour::TimedOut);
    }
    emit slotFinished(slot, result);
    return phase_ == Phase::NextSlot && slot_ == slot;
}

void LinkPoll::finishSlot(const SlotResult &result) {
    enter(Phase::NextSlot); // bytes that come while the window is told are no one's reply
    if (asking_) {
        asking_ = false;
        emit answered({question_, result.outcome, result.reject, result.exceptionCode,
                       result.responseMicros, result.registers});
        // The one who asked may ask again at once, or cancel.
        if (phase_ == Phase::NextSlot && !asking_)
            nextSlot();
        return;
    }
    if (reported(result))
        nextSlot();
}

qint64 LinkPoll::quietAt() const {
    if (lastInput_ < 0 && requestEnd_ < 0) // a line never heard: it is listened to first
        return phaseStart_ + timing_.interFrame.count();
    const auto after = [](qint64 at, nanoseconds d) { return at < 0 ? 0 : at + d.count(); };
    return std::max(after(lastInput_, settled_ ? timing_.interFrame : timing_.settle),
                    after(requestEnd_, timing_.interFrame));
}

// A wait that holds at least a reply's length of bytes that are not the reply ends once the line
// has been quiet after them: the inter-frame silence after a frame of the reply's shape (its end
// is known), the settle time after anything else. -1 while that does not apply.
qint64 LinkPoll::earlyEndAt() const {
    const QByteArrayView rest = replyBytes();
    if (rest.size() < replyLength(request_.count))
        return -1;
    return lastInput_ +
           (endsWithReplyShape(rest, request_) ? timing_.interFrame : timing_.settle).count();
}

qint64 LinkPoll::guardFor(int slot) const {
    // A question's short time-out is for finding slaves: one that has not begun its answer by
    // then is taken for absent, and the line needs only the adapter's hold and a frame's
    // silence before the next request.
    if (slot == questionSlot)
        return timing_.settle.count();
    const qint64 plain = timing_.guard.count();
    // Until the slave's last late reply was seen whole, with the allowance for a later one that
    // the plain guard gives.
    const qint64 learned =
        lateness_[std::size_t(slot)] + (lateReplyWindow + timing_.interFrame).count();
    return std::clamp(learned, plain, guardGrowth * plain);
}

std::optional<ReadRequest> LinkPoll::slotRequest() const {
    return readRequestFromTexts(binding_.slaveText(slot_), binding_.startText(),
                                binding_.countText());
}

void LinkPoll::send() {
    // The texts as they stand when the request goes out: edits made while the line settled count.
    const auto request = asking_ ? std::optional(question_.request) : slotRequest();
    if (!request || !port_.isOpen())
        return finishSlot({request ? SlotOutcome::PortClosed : SlotOutcome::NotSent});
    flushLate();
    request_ = *request;
    sent_ = requestFrame(request_);
    const qint64 now = clock_.now();
    if (recording()) {
        const qint64 before = std::max(lastInput_, requestEnd_);
        records_.request(sent_, now, before < 0 ? -1 : now - before,
                         {recordSlot(), request_.slave});
    }
    requestEnd_ = now + timing_.frame(sent_.size()).count();
    input_.clear(requestEnd_);
    written_ = now;
    const int slot = slot_;
    const bool asking = asking_;
    enter(Phase::AwaitingReply);
    port_.write(sent_);
    if (!asking)
        emit requestSent(slot);
}

void LinkPoll::pullWaiting() {
    if (port_.isOpen() && port_.bytesWaiting() > 0)
        onData();
}

// A whole late reply ahead of this wait's own bytes: of the slot that timed out last, or of
// another request that timed out before it. The same request from the same slave cannot be told
// apart, so it is never passed over.
LinkPoll::LateFrame LinkPoll::lateFrame() const {
    const qsizetype echo = echoLength(input_.bytes(), sent_);
    const QByteArrayView bytes = QByteArrayView(input_.bytes()).sliced(echo);
    const auto whole = [&](const ReadRequest &request) -> qsizetype {
        if (request == request_)
            return 0;
        const ReplyCheck late = checkReply(bytes, request);
        return late.status == ReplyStatus::Incomplete ? 0 : echo + late.at + late.length;
    };
    if (lateSlot_ >= 0)
        if (const qsizetype end = whole(lateRequest_); end > 0)
            return {end, true, lateSlot_ < slotCount ? lateSlot_ : -1, lateRequest_.slave};
    for (const auto &[slot, request] : timedOut_)
        if (const qsizetype end = whole(request); end > 0)
            return {end, false, slot, request.slave};
    return {};
}

qsizetype LinkPoll::lateFrameEnd() const {
    return lateFrame().end;
}

// Where the bytes that may be this slot's reply begin: past an echo and a late reply.
qsizetype LinkPoll::ownFrom() const {
    return std::max(echoLength(input_.bytes(), sent_), lateFrameEnd());
}

QByteArrayView LinkPoll::replyBytes() const {
    return QByteArrayView(input_.bytes()).sliced(ownFrom());
}

void LinkPoll::onData() {
    if (!port_.isOpen())
        return;
    const QByteArray piece = port_.readAll();
    if (piece.isEmpty())
        return;
    const qint64 now = clock_.now();
    if (phase_ == Phase::AwaitingReply)
        takeReply(piece, now);
    else
        takeLate(piece, now);
}

void LinkPoll::takeReply(const QByteArray &piece, qint64 now) {
    input_.add(piece, now);
    input_.keepLast(receiveLimit);
    lastInput_ = now;
    settled_ = false;
    advance();
}

void LinkPoll::takeLate(const QByteArray &piece, qint64 now) {
    if (late_.isEmpty())
        late_.clear(std::max(lastInput_, requestEnd_));
    late_.add(piece, now);
    late_.keepLast(receiveLimit);
    lastInput_ = now;
    settled_ = lateSlot_ >= 0 && endsWithFrame(late_.bytes(), lateRequest_);
    if (lateOwned())
        learnLate(now);
    advance();
}

// The bytes held since the last time-out hold the start of a reply from the slave that timed out:
// its late answer, not line noise that would teach its guard nothing.
bool LinkPoll::lateOwned() const {
    if (lateSlot_ < 0)
        return false;
    const QByteArray &b = late_.bytes();
    for (qsizetype i = 0; i + 1 < b.size(); ++i)
        if (std::uint8_t(b[i]) == lateRequest_.slave &&
            (std::uint8_t(b[i + 1]) & 0x7F) == lateRequest_.function)
            return true;
    return false;
}

// The slot that timed out last answered after all, its last byte seen at `at`.
void LinkPoll::learnLate(qint64 at) {
    lateness_[std::size_t(lateSlot_)] = std::max<qint64>(0, at - timedOutAt_);
    if (!lateCounted_) {
        lateCounted_ = true;
        if (lateSlot_ < slotCount) // a question's late answer is only recorded
            emit lateReply(lateSlot_);
    }
}

// The wait after a time-out brought only unusable bytes, the first of them at `at`: most likely
// the late reply ran into this request on the wire and both were garbled. The late slot's guard
// grows to cover a whole reply from then, so that its next late reply has the line to itself; it
// is not counted as a late reply, nothing of it was heard.
void LinkPoll::suspectLate(qint64 at) {
    const qint64 end = at + timing_.frame(replyLength(lateRequest_.count)).count();
    qint64 &lateness = lateness_[std::size_t(lateSlot_)];
    lateness = std::max(lateness, end - timedOutAt_);
}

void LinkPoll::endReply(const ReplyCheck &check) {
    if (const LateFrame late = lateFrame(); late.ofLateSlot)
        learnLate(input_.arrival(late.end - 1));
    const qsizetype from = ownFrom() + check.at;
    const qsizetype to = from + check.length;
    const qint64 micros = (clock_.now() - written_) / 1000;
    settled_ = to == input_.bytes().size();
    SlotResult result{SlotOutcome::Exception, RejectReason::None, check.exceptionCode, micros};
    if (check.status == ReplyStatus::Valid) {
        result = {SlotOutcome::Valid, RejectReason::None, 0, micros, int(request_.count)};
        result.registers = check.values;
    }
    result.request = request_;
    if (recording())
        recordWait(Span{from, to},
                   result.outcome == SlotOutcome::Valid ? FrameVerdict::Valid
                                                        : FrameVerdict::Exception,
                   result, false);
    lateSlot_ = -1;
    finishSlot(result);
}

// The wait ends without a reply: at the time-out, early on bytes that cannot become one, or with
// the port.
void LinkPoll::endRejected(WaitEnd end) {
    const bool timedOut = end != WaitEnd::Early;
    if (const LateFrame late = lateFrame(); late.ofLateSlot)
        learnLate(input_.arrival(late.end - 1));
    const qint64 now = clock_.now();
    const QByteArrayView rest = replyBytes();
    SlotResult result{SlotOutcome::NoReply, classifyRejected(rest, request_), 0,
                      (now - written_) / 1000};
    result.request = request_;
    const bool shaped = endsWithReplyShape(rest, request_);
    if (recording()) {
        const qsizetype size = input_.bytes().size();
        const auto span = shaped && !timedOut
                              ? std::optional(Span{size - replyLength(request_.count), size})
                              : std::nullopt;
        recordWait(span, verdictOf(result.reject), result, timedOut);
    }
    if (lateSlot_ >= 0 && lateSlot_ != turnSlot() && lateFrameEnd() == 0 && !rest.isEmpty())
        suspectLate(input_.arrival(ownFrom()));
    if (end == WaitEnd::TimedOut) {
        // A reply may still be on its way: its bytes are late, and the line gets a guard.
        lateSlot_ = turnSlot();
        lateRequest_ = request_;
        lateCounted_ = false;
        timedOutAt_ = now;
        guardUntil_ = now + guardFor(lateSlot_);
        timedOut_.push_front({recordSlot(), request_});
        if (timedOut_.size() > timedOutKept)
            timedOut_.pop_back();
        settled_ = rest.isEmpty();
    } else {
        lateSlot_ = -1;
        settled_ = shaped;
    }
    finishSlot(result);
}

// The line stayed busy for as long as a reply may take: no request goes out on it.
void LinkPoll::endLineBusy() {
    const qint64 now = clock_.now();
    const auto request = asking_ ? std::optional(question_.request) : slotRequest();
    const int slave = request ? request->slave : -1;
    flushLate();
    if (recording())
        records_.mark(FrameVerdict::LineBusy, now, lastInput_ < 0 ? -1 : now - lastInput_,
                      {recordSlot(), slave}, (now - phaseStart_) / 1000);
    finishSlot({SlotOutcome::LineBusy});
}

bool LinkPoll::recording() const {
    static const QMetaMethod signal = QMetaMethod::fromSignal(&LinkPoll::frame);
    return isSignalConnected(signal);
}

void LinkPoll::recordWait(std::optional<Span> reply, FrameVerdict verdict, const SlotResult &result,
                          bool timedOut) {
    const PollRecords::Who who{recordSlot(), request_.slave};
    const qsizetype echo = echoLength(input_.bytes(), sent_);
    const qsizetype own = ownFrom();
    const qsizetype size = input_.bytes().size();
    records_.input(input_, 0, echo, FrameVerdict::Echo, who);
    const LateFrame late = lateFrame();
    records_.input(input_, echo, own, FrameVerdict::Late, {late.slot, late.slave});
    if (reply) {
        const auto [from, to] = *reply;
        recordStray(input_, own, from, FrameVerdict::Noise, who);
        records_.input(input_, from, to, verdict, who, result.values, result.responseMicros,
                       result.exceptionCode, request_.start);
        recordStray(input_, to, size, FrameVerdict::Noise, who);
    } else {
        recordStray(input_, own, size, verdict, who); // whatever came was rejected
    }
    if (timedOut) {
        const qint64 now = clock_.now();
        records_.mark(FrameVerdict::TimeOut, now, now - std::max(lastInput_, requestEnd_), who,
                      result.responseMicros);
    }
}

void LinkPoll::flushLate() {
    if (late_.isEmpty())
        return;
    if (recording()) {
        // Bytes that are no timed-out slave's reply are noise, and belong to no slave: their
        // first byte is as likely line noise as an address.
        if (lateOwned())
            records_.input(late_, 0, late_.bytes().size(), FrameVerdict::Late,
                           {lateSlot_ < slotCount ? lateSlot_ : -1, lateRequest_.slave});
        else
            recordStray(late_, 0, late_.bytes().size(), FrameVerdict::Noise, {-1, -1});
    }
    late_.clear(-1);
}

// Bytes that are not the reply waited for: the whole reply of a slave that timed out earlier
// is that slave's late reply, whoever was asked meanwhile; anything else keeps its verdict.
void LinkPoll::recordStray(const Arrivals &in, qsizetype from, qsizetype to, FrameVerdict verdict,
                           PollRecords::Who who) const {
    if (to <= from)
        return;
    const QByteArrayView bytes = QByteArrayView(in.bytes()).sliced(from, to - from);
    for (const auto &[slot, request] : timedOut_) {
        const ReplyCheck check = checkReply(bytes, request);
        if (check.status != ReplyStatus::Incomplete && check.at == 0 &&
            check.length == bytes.size())
            return records_.input(in, from, to, FrameVerdict::Late, {slot, request.slave});
    }
    records_.input(in, from, to, verdict, who);
}

} // namespace modbus
