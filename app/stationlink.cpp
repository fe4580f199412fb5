#include "stationlink.h"

#include "connect.h"
#include "makecontrol.h"
#include "poll.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

QComboBox *makeList(QWidget *parent, const QByteArray &name, int top, const QStringList &entries) {
    auto *box = makeControl<QComboBox>(parent, name, 960, top, 855, 315);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert); // the entries are fixed; a typed value is used as is
    box->addItems(entries);
    box->setCurrentIndex(-1);
    return box;
}

QStringList portEntries() {
    QStringList entries;
    for (int n = 1; n <= 15; ++n)
        entries << QString::number(n);
    return entries;
}

// Slot box colours, written BBGGRR: 80FF80 light green, 0000FF red, 004000 dark green.
QColor slotColour(modbus::SlotColour colour) {
    switch (colour) {
    case modbus::SlotColour::Polling:
        return QColor(0x80, 0xFF, 0x80);
    case modbus::SlotColour::TimedOut:
        return QColor(0xFF, 0x00, 0x00);
    case modbus::SlotColour::Idle:
        break;
    }
    return QColor(0x00, 0x40, 0x00);
}

void setBackColour(QCheckBox *box, const QColor &colour) {
    QPalette p = box->palette();
    p.setColor(box->backgroundRole(), colour);
    box->setPalette(p);
}

} // namespace

LinkControls makeLinkControls(QWidget *parent, int link) {
    const bool first = link == 0;
    const int top = first ? 360 : 2280;
    auto name = [first](const char *base) {
        return first ? QByteArray(base) : QByteArray(base) + '1';
    };
    LinkControls c;
    c.buttonPanel = makeControl<QGroupBox>(parent, first ? "Frame6" : "Frame14", 120, top, 1095,
                                           1815, first ? QStringLiteral("Frame6") : QString());
    c.connect = makeControl<QPushButton>(c.buttonPanel, name("cmd_coneck"), 120, 240, 855, 375,
                                         links::connectCaption);
    c.mode = makeControl<QPushButton>(c.buttonPanel, name("cmd_auto"), 120, first ? 840 : 720, 855,
                                      375, QStringLiteral("Manual"));
    c.test = makeControl<QPushButton>(c.buttonPanel, name("cmdTest"), 120, first ? 1320 : 1200, 855,
                                      375, QStringLiteral("Test"));

    c.portPanel =
        makeControl<QGroupBox>(parent, first ? "Frame1" : "Frame5", 1200, top, 1935, 1815,
                               first ? QStringLiteral(" Pielstick") : QStringLiteral("SWD9TM"));
    c.portLabel = makeControl<QLabel>(c.portPanel, first ? "Label1" : "Label3", 120, 480, 975, 255,
                                      QStringLiteral("Com          :"));
    c.port = makeList(c.portPanel, name("ComA"), 480, portEntries());
    c.baudLabel = makeControl<QLabel>(c.portPanel, first ? "Label2" : "Label4", 120, 960, 855, 255,
                                      QStringLiteral("BoudRate :"));
    c.baud = makeList(c.portPanel, name("BoudRateA"), 960,
                      {QStringLiteral("9600"), QStringLiteral("38400"), QStringLiteral("115200")});

    c.slotPanel = makeControl<QGroupBox>(parent, first ? "Frame3" : "Frame11", 3240, top, 975, 1815,
                                         QStringLiteral("ID"));
    for (int i = 0; i < modbus::slotCount; ++i) {
        c.ids[i] =
            makeControl<QLineEdit>(c.slotPanel, name("txtaID"), 120, 360 + 360 * i, 375, 285);
        c.boxes[i] =
            makeControl<QCheckBox>(c.slotPanel, name("cheAID"), 600, 360 + 360 * i, 255, 255);
        c.boxes[i]->setAutoFillBackground(true);
        c.ids[i]->setProperty("index", i);
        c.boxes[i]->setProperty("index", i);
    }
    return c;
}

modbus::LinkPoll *makeLinkPoll(int link, const LinkControls &controls, const QLineEdit &start,
                               const QLineEdit &count, SerialTransport &port, clk::Clock &clock,
                               QObject *parent) {
    modbus::PollBinding binding{
        [boxes = controls.boxes](int slot) { return boxes[slot]->isChecked(); },
        [ids = controls.ids](int slot) { return ids[slot]->text(); },
        [&start] { return start.text(); },
        [&count] { return count.text(); },
        [boxes = controls.boxes](int slot, modbus::SlotColour colour) {
            setBackColour(boxes[slot], slotColour(colour));
        },
    };
    auto *poll = new modbus::LinkPoll(port, std::move(binding), parent, clock);
    poll->setObjectName(QStringLiteral("poll%1").arg(link));
    return poll;
}
