#include "portkeeper.h"

#include "transport.h"

PortKeeper::PortKeeper(SerialTransport &port, QObject *parent)
    : QObject(parent)
    , port_(port) {
    connect(&port_, &SerialTransport::portLost, this, [this] { lost_ = true; });
}

bool PortKeeper::tryReopen() {
    if (!lost_ || port_.isOpen())
        return false;
    if (!port_.open())
        return false;
    lost_ = false;
    emit reopened();
    return true;
}
