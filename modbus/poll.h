#pragma once

#include "frame.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

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
    // Valid: what was asked, and the values in register order.
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
// signal and a single-shot time-out: nothing here blocks or waits in a loop.
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
    void finished();

private:
    void nextSlot();
    void onData();
    void onTimeout();
    void endWait(SlotResult result);

    SerialTransport &port_;
    PollBinding binding_;
    QTimer kick_; // starts a pass from the event loop, so start() never finishes inside itself
    QTimer timeout_;
    QElapsedTimer clock_;
    int timeoutMs_ = defaultTimeoutMs;
    bool running_ = false;
    bool waiting_ = false;
    int slot_ = -1;
    ReadRequest request_;
    QByteArray received_;
};

} // namespace modbus

Q_DECLARE_METATYPE(modbus::SlotResult)
