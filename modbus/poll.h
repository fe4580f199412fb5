#pragma once

#include "arrivals.h"
#include "clock.h"
#include "frame.h"
#include "framerecord.h"
#include "linetiming.h"
#include "pollrecords.h"
#include "stationshape.h"

#include <QObject>
#include <array>
#include <deque>
#include <functional>
#include <optional>

class SerialTransport;

namespace modbus {

enum class SlotColour { Polling, TimedOut, Idle };

// How one slave slot's turn ended.
enum class SlotOutcome {
    Disabled,   // box not ticked: nothing sent
    NotSent,    // the texts do not form a request: nothing sent
    PortClosed, // the link's port is closed: nothing sent
    Valid,      // values written
    Exception,  // the slave answered with an exception
    NoReply,    // nothing usable within the time-out
    LineBusy,   // the line never went quiet: nothing sent
};

struct SlotResult {
    SlotOutcome outcome = SlotOutcome::Disabled;
    RejectReason reject = RejectReason::None; // NoReply: what the received bytes looked like
    std::uint8_t exceptionCode = 0;
    qint64 responseMicros = 0; // request written to reply complete
    int values = 0;            // Valid: registers the reply carried
    // What was asked of the slave (every outcome that sent a request); Valid: the values in
    // register order, for whoever shows them.
    ReadRequest request{};
    std::vector<std::uint16_t> registers{};
};

// A request asked by hand, outside the slots: it goes out between the slots' requests under the
// same line rules, with a reply time-out of its own, and its answer goes to whoever asked.
struct Question {
    ReadRequest request{};
    int timeoutMs = 50;
};

// How a question ended: outcome Valid, Exception, NoReply, LineBusy or PortClosed.
struct Answer {
    Question question{};
    SlotOutcome outcome = SlotOutcome::NoReply;
    RejectReason reject = RejectReason::None;
    std::uint8_t exceptionCode = 0;
    qint64 responseMicros = 0;
    std::vector<std::uint16_t> registers{};
};

// What a poll reads and writes of the window, looked up when each slot's turn comes.
struct PollBinding {
    std::function<bool(int slot)> slotEnabled;
    std::function<QString(int slot)> slaveText;
    std::function<QString()> startText;
    std::function<QString()> countText;
    std::function<void(int slot, SlotColour)> setColour;
};

// One pass of a link over its four slave slots, one request at a time. The poll is in one phase
// at a time; each phase has one deadline, kept on one alarm, and ends in advance() only, whether
// the alarm, bytes or the port closing call it. Nothing here blocks or waits in a loop. POLL.md
// draws the phases.
class LinkPoll : public QObject {
    Q_OBJECT
public:
    static constexpr int slotCount = modbus::slotCount;
    static constexpr int defaultTimeoutMs = 500;

    enum class Phase {
        Idle,          // no pass under way
        NextSlot,      // the next slot's turn is chosen (a pass starts here, from the event loop)
        Guard,         // after a time-out the line stays free for a late reply
        AwaitingQuiet, // a request waits for a quiet line
        AwaitingReply, // the request is out
    };

    LinkPoll(SerialTransport &port, PollBinding binding, QObject *parent = nullptr,
             clk::Clock &clock = clk::systemClock());

    // Starts a pass from the event loop; a pass already under way is left alone and false
    // returned. A question under way is answered first.
    bool start();
    bool isRunning() const { return passRunning_; }
    // Asks a question once the line is free: at once when idle, else before the next slot's
    // turn. One at a time: false while another is waiting or under way.
    bool ask(const Question &question);
    bool isAsking() const { return asking_ || pending_.has_value(); }
    // While paused a pass asks no slot and ends at once (so the cycle goes on); questions are
    // still asked.
    void pauseSlots(bool paused) { paused_ = paused; }
    bool slotsPaused() const { return paused_; }
    Phase phase() const { return phase_; }
    // Ends a pass without touching the window again (the window is going away).
    void cancel();
    void setReplyTimeout(int ms) { timeoutMs_ = ms; }
    // The longest a pass can last, whatever the line does.
    qint64 passBoundNanos() const;

signals:
    void requestSent(int slot);
    void slotFinished(int slot, const modbus::SlotResult &result);
    // Bytes came after the slot's time-out; once per time-out.
    void lateReply(int slot);
    void finished();
    void answered(const modbus::Answer &answer);
    // Every request written and every input frame judged; built only while someone listens.
    void frame(const modbus::FrameRecord &record);

private:
    void enter(Phase phase);
    qint64 deadline() const;
    void arm();
    void advance();
    void onAlarm();
    void onData();

    void nextSlot();
    void endPass();
    void askNow();
    // The slot whose turn it is, or questionSlot while a question is out.
    int turnSlot() const { return asking_ ? questionSlot : slot_; }
    int recordSlot() const { return asking_ ? -1 : slot_; }
    qint64 waitNanos() const { return nanosOf(asking_ ? question_.timeoutMs : timeoutMs_); }
    void send();
    void takeReply(const QByteArray &piece, qint64 now);
    void takeLate(const QByteArray &piece, qint64 now);
    void endReply(const ReplyCheck &check);
    enum class WaitEnd { TimedOut, Early, PortClosed };
    void endRejected(WaitEnd end);
    void endLineBusy();
    bool reported(const SlotResult &result);
    void finishSlot(const SlotResult &result);
    bool lateOwned() const;
    void suspectLate(qint64 at);
    void learnLate(qint64 at);

    std::optional<ReadRequest> slotRequest() const;
    void pullWaiting();
    struct LateFrame {
        qsizetype end = 0;       // where it ends in this wait's bytes; 0: none
        bool ofLateSlot = false; // the slot that timed out last answered
        int slot = -1;
        int slave = -1;
    };
    LateFrame lateFrame() const;
    qsizetype lateFrameEnd() const;
    qsizetype ownFrom() const;
    QByteArrayView replyBytes() const;
    qint64 quietAt() const;
    qint64 earlyEndAt() const;
    qint64 guardFor(int slot) const;
    qint64 nanosOf(int ms) const { return qint64(ms) * 1'000'000; }

    bool recording() const;
    using Span = std::pair<qsizetype, qsizetype>; // bytes from..to of this wait's input
    void recordWait(std::optional<Span> reply, FrameVerdict verdict, const SlotResult &result,
                    bool timedOut);
    void flushLate();
    void recordStray(const Arrivals &in, qsizetype from, qsizetype to, FrameVerdict verdict,
                     PollRecords::Who who) const;

    SerialTransport &port_;
    PollBinding binding_;
    clk::Clock &clock_;
    clk::Alarm *alarm_;
    PollRecords records_;
    LineTiming timing_;
    int timeoutMs_ = defaultTimeoutMs;

    static constexpr int questionSlot = slotCount; // lateness_ keeps questions' after the slots'

    Phase phase_ = Phase::Idle;
    bool passRunning_ = false;
    bool paused_ = false;
    std::optional<Question> pending_;
    bool asking_ = false; // the turn under way is a question's
    Question question_;
    qint64 phaseStart_ = 0;
    int slot_ = -1;
    ReadRequest request_;
    QByteArray sent_;
    qint64 written_ = -1; // the request was handed to the port
    Arrivals input_;      // this wait's bytes

    // The line.
    qint64 lastInput_ = -1;  // last byte received, whatever it was
    qint64 requestEnd_ = -1; // the last request left the wire
    bool settled_ = true;    // the last bytes received ended a frame of known length

    // Bytes with no request outstanding; they belong to the slot that timed out last, if any.
    Arrivals late_;
    int lateSlot_ = -1;
    ReadRequest lateRequest_;
    bool lateCounted_ = false;
    qint64 timedOutAt_ = -1; // when the late slot's wait ended
    qint64 guardUntil_ = -1;
    // The latest requests that timed out, newest first, to name a late reply that comes after
    // another slave was asked.
    static constexpr std::size_t timedOutKept = 8;
    std::deque<std::pair<int, ReadRequest>> timedOut_;
    // Per slot: how long after its time-out the last byte of its latest late reply came.
    std::array<qint64, slotCount + 1> lateness_{};
};

} // namespace modbus

Q_DECLARE_METATYPE(modbus::SlotResult)
Q_DECLARE_METATYPE(modbus::Answer)
