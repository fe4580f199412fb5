#pragma once

#include "arrivals.h"
#include "frame.h"
#include "framerecord.h"
#include "linetiming.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
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
};

struct SlotResult {
    SlotOutcome outcome = SlotOutcome::Disabled;
    RejectReason reject = RejectReason::None; // NoReply: what the received bytes looked like
    std::uint8_t exceptionCode = 0;
    qint64 responseMicros = 0; // request written to reply complete
    int values = 0;            // Valid: registers the reply carried
    // What was asked of the slave (every outcome that sent a request); Valid: the values in
    // register order.
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
    // Row 1 holds the first register of the block; rows past the grid fail and are skipped.
    std::function<bool(int row, int slot, const QString &text)> setCell;
};

// One pass of a link over its four slave slots, one request at a time, driven by the port's data
// signal and single-shot timers: nothing here blocks or waits in a loop. A request goes out only
// once the line has been quiet long enough for every slave to see where it begins.
class LinkPoll : public QObject {
    Q_OBJECT
public:
    static constexpr int slotCount = 4;
    static constexpr int defaultTimeoutMs = 500;

    LinkPoll(SerialTransport &port, PollBinding binding, QObject *parent = nullptr);

    // Starts a pass from the event loop; a pass already under way is left alone and false
    // returned.
    bool start();
    bool isRunning() const { return running_; }
    // Ends a pass without touching the window again (the window is going away).
    void cancel();
    void setReplyTimeout(int ms) { timeoutMs_ = ms; }

signals:
    void requestSent(int slot);
    void slotFinished(int slot, const modbus::SlotResult &result);
    // Bytes came after the slot's time-out; once per time-out.
    void lateReply(int slot);
    void finished();
    // Every request written and every input frame judged; built only while someone listens.
    void frame(const modbus::FrameRecord &record);

private:
    void nextSlot();
    void onData();
    void onTimeout();
    void onQuiet();
    std::optional<ReadRequest> slotRequest() const;
    void send();
    void takeLate(const QByteArray &piece, qint64 now);
    void pullWaiting();
    QByteArrayView replyBytes() const;
    qint64 quietAt() const;
    void armQuiet(qint64 nanos);
    void endWait(SlotResult result, bool settled);

    bool recording() const;
    FrameRecord record(FrameVerdict verdict, qint64 nanos) const;
    void recordInput(const Arrivals &in, qsizetype from, qsizetype to, FrameVerdict verdict,
                     int slot, int slave, const SlotResult *result = nullptr);
    using Span = std::pair<qsizetype, qsizetype>; // bytes from..to of this wait's input
    void recordWait(std::optional<Span> reply, FrameVerdict verdict, const SlotResult &result);
    void flushLate();

    SerialTransport &port_;
    PollBinding binding_;
    QTimer kick_; // starts a pass from the event loop, so start() never finishes inside itself
    QTimer timeout_;
    QTimer quiet_; // when the line should have gone quiet: a request may go, a garbled reply ends
    QElapsedTimer clock_;
    LineTiming timing_;
    int timeoutMs_ = defaultTimeoutMs;
    bool running_ = false;
    bool waiting_ = false;
    bool sendPending_ = false;
    int slot_ = -1;
    ReadRequest request_;
    QByteArray sent_;
    Arrivals input_; // this wait's bytes

    // The line, on the monotonic clock in nanoseconds.
    qint64 lastInput_ = -1;  // last byte received, whatever it was
    qint64 requestEnd_ = -1; // the last request left the wire
    qint64 guardUntil_ = -1; // after a time-out
    bool settled_ = true;    // the last bytes received ended a frame of known length

    // Bytes with no request outstanding; they belong to the slot that timed out last, if any.
    Arrivals late_;
    int lateSlot_ = -1;
    ReadRequest lateRequest_;
    bool lateCounted_ = false;
};

} // namespace modbus

Q_DECLARE_METATYPE(modbus::SlotResult)
