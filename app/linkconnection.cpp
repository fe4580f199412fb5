#include "linkconnection.h"

#include "connect.h"
#include "portkeeper.h"
#include "traffic.h"
#include "transport.h"

#include <QAction>
#include <QComboBox>
#include <QPushButton>

using traffic::LinkEvent;

LinkConnection::LinkConnection(int link, QPushButton &button, const QComboBox &portBox,
                               SerialTransport &port, traffic::Traffic &traffic, int retryUnitMs,
                               QObject *parent)
    : QObject(parent)
    , link_(link)
    , button_(button)
    , portBox_(portBox)
    , port_(port)
    , traffic_(traffic)
    , keeper_(new PortKeeper(port, this, retryUnitMs))
    , stopTrying_(new QAction(QStringLiteral("Stop trying"), &button)) {
    connect(&button_, &QPushButton::clicked, this, &LinkConnection::click);
    // A port that fails under the station is closed; its button tells so at once, and after
    // every try to open it again. Each change is a row in the traffic; a port that stays away
    // is one row, not one a try.
    connect(&port_, &SerialTransport::portLost, this, [this](const QString &why) {
        showState();
        traffic_.linkEvent(link_, LinkEvent::Lost, why);
    });
    connect(keeper_, &PortKeeper::reopened, this, [this] {
        showState();
        traffic_.linkEvent(link_, LinkEvent::Reopened, port_.deviceName());
    });
    connect(keeper_, &PortKeeper::tryFailed, this, [this](const QString &why, bool newReason) {
        showState();
        if (newReason)
            traffic_.linkEvent(link_, LinkEvent::OpenFailed, why);
    });
    // A port that never opened offers no "DisConnect": its button's menu stops the tries.
    stopTrying_->setEnabled(false);
    button_.addAction(stopTrying_);
    button_.setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(stopTrying_, &QAction::triggered, this, [this] {
        keeper_->operatorDisconnected();
        showState();
    });
}

void LinkConnection::click() {
    const bool wasOpen = port_.isOpen();
    const bool connecting = button_.text() == links::connectCaption;
    links::connectClick(button_.text(), portBox_.currentText(), port_);
    // The operator's choice holds: "Connect" keeps the port tried until it opens,
    // "DisConnect" leaves it closed.
    if (connecting) {
        keeper_->operatorConnected();
        if (!wasOpen)
            traffic_.linkEvent(link_, port_.isOpen() ? LinkEvent::Opened : LinkEvent::OpenFailed,
                               port_.isOpen() ? port_.deviceName() : port_.lastOpenError());
    } else {
        keeper_->operatorDisconnected();
        if (wasOpen && !port_.isOpen())
            traffic_.linkEvent(link_, LinkEvent::Closed, port_.deviceName());
    }
    showState(); // the caption ends in line with the port
}

void LinkConnection::release() {
    keeper_->operatorDisconnected();
    if (port_.isOpen())
        port_.close();
}

void LinkConnection::showState() {
    button_.setText(port_.isOpen() ? links::disconnectCaption : links::connectCaption);
    QString tip = QStringLiteral("Port %1: %2, %3")
                      .arg(port_.portNumber())
                      .arg(port_.deviceName(),
                           port_.isOpen() ? QStringLiteral("open") : QStringLiteral("closed"));
    if (!port_.isOpen() && !port_.lastOpenError().isEmpty())
        tip += QStringLiteral("\nCannot open: %1").arg(port_.lastOpenError());
    if (!port_.openNotice().isEmpty())
        tip += u'\n' + port_.openNotice();
    if (keeper_->isLost())
        tip += QStringLiteral("\nThe device failed under the station");
    if (keeper_->isRetrying())
        tip += QStringLiteral("\nLast try %1, next try %2 (right-click to stop trying)")
                   .arg(keeper_->lastTry().toString(QStringLiteral("HH:mm:ss")),
                        keeper_->nextTry().toString(QStringLiteral("HH:mm:ss")));
    button_.setToolTip(tip);
    stopTrying_->setEnabled(keeper_->isRetrying());
}
