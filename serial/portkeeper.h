#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

class SerialTransport;

// Keeps a link's port open while the operator wants it open. A port that could not be opened
// (device missing, held by another process, locked) or that failed under the station (adapter
// pulled) is tried again on a back-off until it opens: every second for the first five tries,
// then every 2 s up to the tenth, then every 5 s. The operator's "DisConnect" ends the tries;
// the next "Connect" starts them again.
class PortKeeper : public QObject {
    Q_OBJECT
public:
    // `unitMs` is the length of the back-off's step (a second; tests take less).
    explicit PortKeeper(SerialTransport &port, QObject *parent = nullptr, int unitMs = 1000);

    // The wait before the next try after `failures` failed ones.
    static int retryDelayMs(int failures, int unitMs = 1000);

    // The operator's "Connect" (and start-up's) has just tried to open the port: when it is
    // not open, it is tried again until it is.
    void operatorConnected();
    // The operator closed the port: no tries of our own until the next "Connect".
    void operatorDisconnected();

    bool isRetrying() const { return retrying_; }
    // Retrying a port that was open and failed under the station.
    bool isLost() const { return retrying_ && lost_; }
    QDateTime lastTry() const { return lastTry_; }
    QString lastError() const { return lastError_; }
    // When the next try comes; null when none is due.
    QDateTime nextTry() const { return retrying_ ? nextTry_ : QDateTime(); }
    // One try now; true when the port is open afterwards.
    bool tryReopen();

signals:
    // The port is open again, by one of our tries.
    void reopened();
    // A try failed; `newReason` when the reason differs from the previous failure's.
    void tryFailed(const QString &why, bool newReason);

private:
    void retry();
    void schedule();

    SerialTransport &port_;
    int unitMs_;
    QTimer timer_;
    bool retrying_ = false;
    bool lost_ = false;
    int failures_ = 0;
    QDateTime lastTry_, nextTry_;
    QString lastError_;
};
