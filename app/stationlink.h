#pragma once

#include "stationshape.h"

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QObject;
class QPushButton;
class QWidget;
class LinkConnection;
class PortKeeper;
class SerialTransport;

namespace clk {
class Clock;
}
namespace modbus {
class LinkPoll;
}

// The controls of one link: its three panels side by side, the buttons, the port panel and the
// slave slots (address box and enable box each).
struct LinkControls {
    QGroupBox *buttonPanel = nullptr, *portPanel = nullptr, *slotPanel = nullptr;
    QPushButton *connect = nullptr, *mode = nullptr, *test = nullptr;
    QLabel *portLabel = nullptr, *baudLabel = nullptr;
    QComboBox *port = nullptr, *baud = nullptr;
    std::array<QLineEdit *, modbus::slotCount> ids{};
    std::array<QCheckBox *, modbus::slotCount> boxes{};
};

// Makes a link's panels in `parent` under the names the window gives that link's controls
// (link 1's bear link 0's names with "1" appended).
LinkControls makeLinkControls(QWidget *parent, int link);

// The register poll of a link, reading its slots from the link's controls and the register
// block from the two boxes, and colouring the slots' enable boxes as it goes.
modbus::LinkPoll *makeLinkPoll(int link, const LinkControls &controls, const QLineEdit &start,
                               const QLineEdit &count, SerialTransport &port, clk::Clock &clock,
                               QObject *parent);

// One link of the station: what the operator sees of it and what runs it.
struct StationLink {
    LinkControls controls;
    SerialTransport *port = nullptr; // MSComm, MSComm1
    modbus::LinkPoll *poll = nullptr;
    PortKeeper *keeper = nullptr;         // tries the port while the operator wants it open
    LinkConnection *connection = nullptr; // the connect button over the port
};

using StationLinks = std::array<StationLink, modbus::linkCount>;
