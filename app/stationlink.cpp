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

// Where the two links' panels differ; everything else is the same.
struct LinkLayout {
    int top;              // of the three panels
    int modeTop, testTop; // of the mode and "Test" buttons
    const char *buttonPanel, *portPanel, *slotPanel, *portLabel, *baudLabel;
    const char *buttonCaption, *portCaption;
    const char *suffix; // of the names link 1's controls share with link 0's
};

constexpr std::array<LinkLayout, modbus::linkCount> linkLayouts{{
    {360, 840, 1320, "Frame6", "Frame1", "Frame3", "Label1", "Label2", "Frame6", " Pielstick", ""},
    {2280, 720, 1200, "Frame14", "Frame5", "Frame11", "Label3", "Label4", "", "SWD9TM", "1"},
}};

} // namespace

LinkControls makeLinkControls(QWidget *parent, int link) {
    const LinkLayout &l = linkLayouts[link];
    const auto name = [&l](const char *base) { return QByteArray(base) + l.suffix; };
    const auto text = [](const char *latin1) { return QString::fromLatin1(latin1); };
    LinkControls c;
    c.buttonPanel = makeControl<QGroupBox>(parent, l.buttonPanel, 120, l.top, 1095, 1815,
                                           text(l.buttonCaption));
    c.connect = makeControl<QPushButton>(c.buttonPanel, name("cmd_coneck"), 120, 240, 855, 375,
                                         links::connectCaption);
    c.mode = makeControl<QPushButton>(c.buttonPanel, name("cmd_auto"), 120, l.modeTop, 855, 375,
                                      QStringLiteral("Manual"));
    c.test = makeControl<QPushButton>(c.buttonPanel, name("cmdTest"), 120, l.testTop, 855, 375,
                                      QStringLiteral("Test"));

    c.portPanel =
        makeControl<QGroupBox>(parent, l.portPanel, 1200, l.top, 1935, 1815, text(l.portCaption));
    c.portLabel = makeControl<QLabel>(c.portPanel, l.portLabel, 120, 480, 975, 255,
                                      QStringLiteral("Com          :"));
    c.port = makeList(c.portPanel, name("ComA"), 480, portEntries());
    c.baudLabel = makeControl<QLabel>(c.portPanel, l.baudLabel, 120, 960, 855, 255,
                                      QStringLiteral("BoudRate :"));
    c.baud = makeList(c.portPanel, name("BoudRateA"), 960,
                      {QStringLiteral("9600"), QStringLiteral("38400"), QStringLiteral("115200")});

    c.slotPanel =
        makeControl<QGroupBox>(parent, l.slotPanel, 3240, l.top, 975, 1815, QStringLiteral("ID"));
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
