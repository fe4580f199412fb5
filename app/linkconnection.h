#pragma once

#include <QObject>

class PortKeeper;
class QAction;
class QComboBox;
class QPushButton;
class SerialTransport;

namespace traffic {
class Traffic;
}

// A link's connect button over its port. A click opens the port on the port box's number or
// closes it, as the caption offers; a port the operator wants open is kept trying until it opens,
// and a port that never opened is left alone with "Stop trying" from the button's menu. The
// caption and tooltip follow the port, and what becomes of the port is a row in the traffic.
class LinkConnection : public QObject {
    Q_OBJECT
public:
    LinkConnection(int link, QPushButton &button, const QComboBox &portBox, SerialTransport &port,
                   traffic::Traffic &traffic, int retryUnitMs, QObject *parent = nullptr);

    PortKeeper *keeper() const { return keeper_; }
    // The connect button's click.
    void click();
    // The window is closing: the port is released at once and not taken again by a try due.
    void release();

private:
    void showState();

    int link_;
    QPushButton &button_;
    const QComboBox &portBox_;
    SerialTransport &port_;
    traffic::Traffic &traffic_;
    PortKeeper *keeper_;
    QAction *stopTrying_;
};
