#pragma once

#include <QObject>

class SerialTransport;

// Brings back a port that failed under the station (adapter pulled, device gone): one reopen
// attempt per call while it is gone. A port the operator closed is left closed.
class PortKeeper : public QObject {
    Q_OBJECT
public:
    explicit PortKeeper(SerialTransport &port, QObject *parent = nullptr);

    bool isLost() const { return lost_; }
    // The operator took the link in hand (connect button): no more attempts of our own.
    void operatorActed() { lost_ = false; }
    // One attempt to reopen a lost port; true when it is open again.
    bool tryReopen();

signals:
    void reopened();

private:
    SerialTransport &port_;
    bool lost_ = false;
};
