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
    // returned.
    bool start();
    bool isRunning() const { return phase_ != Phase::Idle; }
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

    SerialTransport &port_;
    PollBinding binding_;
    clk::Clock &clock_;
    clk::Alarm *alarm_;
    PollRecords records_;
    LineTiming timing_;
    int timeoutMs_ = defaultTimeoutMs;

    Phase phase_ = Phase::Idle;
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
    // Per slot: how long after its time-out the last byte of its latest late reply came.
    std::array<qint64, slotCount> lateness_{};
};

} // namespace modbus

Q_DECLARE_METATYPE(modbus::SlotResult)
