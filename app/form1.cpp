#include "form1.h"

#include "applyprogress.h"
#include "browserpane.h"
#include "commissionwindow.h"
#include "connect.h"
#include "crc16.h"
#include "diagnostics.h"
#include "failurepage.h"
#include "listboxstyle.h"
#include "numbers.h"
#include "portkeeper.h"
#include "progressbar.h"
#include "qserialtransport.h"
#include "readinggrid.h"
#include "resizerule.h"
#include "scancontrol.h"
#include "snapshot.h"
#include "snapshotstep.h"
#include "statefolder.h"
#include "stationfont.h"
#include "traffic.h"
#include "trafficwindow.h"
#include "trends.h"
#include "twips.h"
#include "uploadurl.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

namespace {

template <typename T>
T *make(QWidget *parent, const char *name, int left, int top, int width, int height,
        const QString &text = {}) {
    auto *w = new T(parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(px(left), px(top), px(width), px(height));
    if constexpr (requires { w->setTitle(text); })
        w->setTitle(text);
    else if constexpr (requires { w->setText(text); })
        w->setText(text);
    return w;
}

QComboBox *makeList(QWidget *parent, const char *name, int top, const QStringList &entries) {
    auto *box = make<QComboBox>(parent, name, 960, top, 855, 315);
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

Form1::Form1(std::array<SerialTransport *, 2> ports, Form1Options options, QWidget *parent)
    : QWidget(parent)
    , csvPath_(options.csvPath.isEmpty() ? snapshotFilePath() : options.csvPath)
    , portRetryUnitMs_(options.portRetryUnitMs)
    , server_(serverAddress())
    , serverProblem_(serverAddressProblem(server_))
    , clock_(options.clock ? *options.clock : clk::systemClock()) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setFont(stationFont());
    resize(px(13320), px(9315));
    for (int link = 0; link < 2; ++link) {
        SerialTransport *port = ports[link];
        if (port)
            port->setParent(this);
        else
            port = new QSerialTransport(this);
        port->setObjectName(link == 0 ? QStringLiteral("MSComm") : QStringLiteral("MSComm1"));
        (link == 0 ? MSComm : MSComm1) = port;
    }
    createControls();
    for (int link = 0; link < 2; ++link) {
        polls_[link] = createPoll(link, link == 0 ? *MSComm : *MSComm1);
        polls_[link]->setReplyTimeout(options.replyTimeoutMs);
    }
    snapshotWriter_ =
        new scan::SnapshotWriter(csvPath_, options.writeSnapshot, options.snapshotStuckMs, this);
    scan::showWritesIn(*txtPrint, *snapshotWriter_);
    wire();
    if (serverProblem_)
        qWarning("rtu-station: RTU_STATION_SERVER \"%s\" is refused, \"GGO\" sends nothing: %s",
                 qPrintable(server_), qPrintable(*serverProblem_));
    load();
}

Form1::~Form1() {
    // Nothing may touch a control once the window is going: stop the cycle and both polls here,
    // before the controls are destroyed.
    scan_->cancel();
    for (auto *poll : polls_)
        poll->cancel();
}

void Form1::createControls() {
    Frame4 = make<QGroupBox>(this, "Frame4", 0, 120, 4455, 5535, QStringLiteral("Frame4"));
    createLinkControls(0);
    createLinkControls(1);
    // Made after the lists, so that it outlives them.
    auto *listStyle = new ListBoxStyle;
    listStyle->setParent(this);
    for (auto *list : {ComA, BoudRateA, ComA1, BoudRateA1})
        list->setStyle(listStyle);

    Frame2 = make<QGroupBox>(Frame4, "Frame2", 240, 4320, 3855, 1095, QStringLiteral("Frame2"));
    Label9 = make<QLabel>(Frame2, "Label9", 120, 360, 1095, 255, QStringLiteral("Start Addres"));
    txt_addr = make<QLineEdit>(Frame2, "txt_addr", 1080, 240, 615, 285, QStringLiteral("1139"));
    Label10 = make<QLabel>(Frame2, "Label10", 120, 600, 975, 375, QStringLiteral("Panjang"));
    txt_jumlahData =
        make<QLineEdit>(Frame2, "txt_jumlahData", 1080, 600, 615, 285, QStringLiteral("12"));
    PBScan = make<QPushButton>(Frame2, "PBScan", 1920, 240, 1575, 375, QStringLiteral("Scan ON"));
    // Lies below the panel's lower edge: the panel clips it out of sight.
    cmdAuto = make<QPushButton>(Frame2, "cmdAuto", 2040, 3000, 975, 375, QStringLiteral("Manual"));

    tabel = make<ReadingGrid>(this, "tabel", 4560, 120, 8415, 5055);
    txtPrint = make<QLineEdit>(this, "txtPrint", 4680, 5400, 8415, 405);
    Label5 = make<QLabel>(this, "Label5", 360, 5760, 1455, 255, QStringLiteral("Label5"));
    Command5 = make<QPushButton>(this, "Command5", 3720, 5760, 855, 375, QStringLiteral("GGO"));
    Text1 = make<QLineEdit>(this, "Text1", 4680, 5760, 7455, 375, QStringLiteral("Text1"));
    Command1 = make<QPushButton>(this, "Command1", 240, 6360, 1335, 375, QStringLiteral("Forward"));
    Command2 = make<QPushButton>(this, "Command2", 1680, 6360, 1335, 375, QStringLiteral("Back"));
    Command3 = make<QPushButton>(this, "Command3", 3120, 6360, 1335, 375, QStringLiteral("Refres"));
    Command4 = make<QPushButton>(this, "Command4", 4560, 6360, 1335, 375, QStringLiteral("Stop"));
    ProgressBar1 = make<FractionProgressBar>(this, "ProgressBar1", 6000, 6360, 3375, 375);
    WebBrowser1 = make<BrowserPane>(this, "WebBrowser1", 360, 6840, 3855, 615);

    auto makeTimer = [this](const char *name, int interval) {
        auto *timer = new QTimer(this);
        timer->setObjectName(QString::fromLatin1(name));
        timer->setInterval(interval);
        timer->setTimerType(Qt::PreciseTimer); // one second is one second, not 0.95 to 1.05
        return timer;
    };
    Timer1 = makeTimer("Timer1", 0); // never started: it has no work
    Timer2 = makeTimer("Timer2", 1000);
    Timer3 = new clk::Timer(clock_, this);
    Timer3->setObjectName(QStringLiteral("Timer3"));
    Timer3->setInterval(500);
}

void Form1::createLinkControls(int link) {
    const bool first = link == 0;
    const int top = first ? 360 : 2280;
    auto name = [first](const char *base) {
        return first ? QByteArray(base) : QByteArray(base) + '1';
    };
    auto *buttons = make<QGroupBox>(Frame4, first ? "Frame6" : "Frame14", 120, top, 1095, 1815,
                                    first ? QStringLiteral("Frame6") : QString());
    auto *connectButton =
        make<QPushButton>(buttons, name("cmd_coneck"), 120, 240, 855, 375, links::connectCaption);
    auto *mode = make<QPushButton>(buttons, name("cmd_auto"), 120, first ? 840 : 720, 855, 375,
                                   QStringLiteral("Manual"));
    auto *test = make<QPushButton>(buttons, name("cmdTest"), 120, first ? 1320 : 1200, 855, 375,
                                   QStringLiteral("Test"));

    auto *portPanel =
        make<QGroupBox>(Frame4, first ? "Frame1" : "Frame5", 1200, top, 1935, 1815,
                        first ? QStringLiteral(" Pielstick") : QStringLiteral("SWD9TM"));
    auto *comLabel = make<QLabel>(portPanel, first ? "Label1" : "Label3", 120, 480, 975, 255,
                                  QStringLiteral("Com          :"));
    auto *port = makeList(portPanel, name("ComA"), 480, portEntries());
    auto *baudLabel = make<QLabel>(portPanel, first ? "Label2" : "Label4", 120, 960, 855, 255,
                                   QStringLiteral("BoudRate :"));
    auto *baud =
        makeList(portPanel, name("BoudRateA"), 960,
                 {QStringLiteral("9600"), QStringLiteral("38400"), QStringLiteral("115200")});

    auto *idPanel = make<QGroupBox>(Frame4, first ? "Frame3" : "Frame11", 3240, top, 975, 1815,
                                    QStringLiteral("ID"));
    std::array<QLineEdit *, 4> ids;
    std::array<QCheckBox *, 4> boxes;
    for (int i = 0; i < 4; ++i) {
        ids[i] = make<QLineEdit>(idPanel, name("txtaID"), 120, 360 + 360 * i, 375, 285);
        boxes[i] = make<QCheckBox>(idPanel, name("cheAID"), 600, 360 + 360 * i, 255, 255);
        boxes[i]->setAutoFillBackground(true);
        ids[i]->setProperty("index", i);
        boxes[i]->setProperty("index", i);
    }
    if (first) {
        Frame6 = buttons, Frame1 = portPanel, Frame3 = idPanel;
        cmd_coneck = connectButton, cmd_auto = mode, cmdTest = test;
        Label1 = comLabel, Label2 = baudLabel, ComA = port, BoudRateA = baud;
        txtaID = ids, cheAID = boxes;
    } else {
        Frame14 = buttons, Frame5 = portPanel, Frame11 = idPanel;
        cmd_coneck1 = connectButton, cmd_auto1 = mode, cmdTest1 = test;
        Label3 = comLabel, Label4 = baudLabel, ComA1 = port, BoudRateA1 = baud;
        txtaID1 = ids, cheAID1 = boxes;
    }
}

modbus::LinkPoll *Form1::createPoll(int link, SerialTransport &port) {
    const auto &ids = link == 0 ? txtaID : txtaID1;
    const auto &boxes = link == 0 ? cheAID : cheAID1;
    const int firstColumn = firstSlotColumn(link);
    modbus::PollBinding binding{
        [boxes](int slot) { return boxes[slot]->isChecked(); },
        [ids](int slot) { return ids[slot]->text(); },
        [this] { return txt_addr->text(); },
        [this] { return txt_jumlahData->text(); },
        [boxes](int slot, modbus::SlotColour colour) {
            setBackColour(boxes[slot], slotColour(colour));
        },
    };
    auto *poll = new modbus::LinkPoll(port, std::move(binding), this, clock_);
    // The poll reports the values; the grid shows them.
    connect(poll, &modbus::LinkPoll::slotFinished, this,
            [this, firstColumn](int slot, const modbus::SlotResult &result) {
                if (result.outcome == modbus::SlotOutcome::Valid)
                    showValues(*tabel, firstColumn + slot, result.registers);
            });
    poll->setObjectName(link == 0 ? QStringLiteral("poll0") : QStringLiteral("poll1"));
    return poll;
}

void Form1::wire() {
    scan_ = new scan::ScanControl({PBScan,
                                   {cmd_auto, cmd_auto1},
                                   cmdTest,
                                   cmdAuto,
                                   Timer3,
                                   Timer2,
                                   polls_,
                                   [this] { takeSnapshot(); }},
                                  this);
    connect(cmd_coneck, &QPushButton::clicked, this, &Form1::cmd_coneck_Click);
    connect(cmd_coneck1, &QPushButton::clicked, this, &Form1::cmd_coneck1_Click);
    connect(cmdTest, &QPushButton::clicked, this, &Form1::cmdTest_Click);
    connect(cmdTest1, &QPushButton::clicked, this, &Form1::cmdTest1_Click);
    connect(cmd_auto, &QPushButton::clicked, scan_, [this] { scan_->modeClicked(0); });
    connect(cmd_auto1, &QPushButton::clicked, scan_, [this] { scan_->modeClicked(1); });
    connect(cmdAuto, &QPushButton::clicked, scan_, &scan::ScanControl::testEnablerClicked);
    connect(PBScan, &QPushButton::clicked, scan_, &scan::ScanControl::scanSwitchClicked);
    connect(Timer2, &QTimer::timeout, scan_, &scan::ScanControl::startTimerTicked);
    connect(Timer3, &clk::Timer::timeout, this, &Form1::Autoscan);
    wireDiagnostics();
    for (int link = 0; link < 2; ++link) {
        // The address column and the headers name what was read, not what the boxes say now.
        connect(polls_[link], &modbus::LinkPoll::slotFinished, this,
                [this, link](int slot, const modbus::SlotResult &result) {
                    if (result.outcome == modbus::SlotOutcome::Valid)
                        labelBlock(*tabel, result.request.start, result.request.count);
                    if (result.outcome == modbus::SlotOutcome::Valid ||
                        result.outcome == modbus::SlotOutcome::Exception ||
                        result.outcome == modbus::SlotOutcome::NoReply)
                        labelSlave(*tabel, firstSlotColumn(link) + slot, result.request.slave);
                });
    }
    wireTrends();
    wireTraffic();

    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Command1, &QPushButton::clicked, WebBrowser1, &BrowserPane::forward);
    connect(Command2, &QPushButton::clicked, WebBrowser1, &BrowserPane::back);
    connect(Command3, &QPushButton::clicked, WebBrowser1, &BrowserPane::reload);
    connect(WebBrowser1, &BrowserPane::progressChange, this, [this](int progress, int progressMax) {
        applyProgress(*ProgressBar1, *Label5, progress, progressMax);
        applyLoadFailure(*Label5, WebBrowser1->lastFailure());
    });
    connect(WebBrowser1, &BrowserPane::loadFailed, this,
            [this](const QString &, const QString &reason) { applyLoadFailure(*Label5, reason); });
}

void Form1::wireDiagnostics() {
    diagnostics_ =
        new Diagnostics(*tabel,
                        {Diagnostics::Link{polls_[0], cheAID, txtaID, firstSlotColumn(0)},
                         Diagnostics::Link{polls_[1], cheAID1, txtaID1, firstSlotColumn(1)}},
                        this);
    tabel->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tabel, &QWidget::customContextMenuRequested, this, &Form1::offerStatsReset);
    for (int link = 0; link < 2; ++link) {
        SerialTransport *port = link == 0 ? MSComm : MSComm1;
        keepers_[link] = new PortKeeper(*port, this, portRetryUnitMs_);
        // A port that fails under the station is closed; its button tells so at once, and
        // after every try to open it again.
        connect(port, &SerialTransport::portLost, this, [this, link] { showLinkState(link); });
        connect(keepers_[link], &PortKeeper::reopened, this, [this, link] { showLinkState(link); });
        connect(keepers_[link], &PortKeeper::tryFailed, this,
                [this, link] { showLinkState(link); });
        // A port that never opened offers no "DisConnect": its button's menu stops the tries.
        QPushButton *button = link == 0 ? cmd_coneck : cmd_coneck1;
        auto *stop = new QAction(QStringLiteral("Stop trying"), button);
        stop->setEnabled(false);
        button->addAction(stop);
        button->setContextMenuPolicy(Qt::ActionsContextMenu);
        connect(stop, &QAction::triggered, this, [this, link] {
            keepers_[link]->operatorDisconnected();
            showLinkState(link);
        });
    }
}

void Form1::showLinkState(int link) {
    SerialTransport *port = link == 0 ? MSComm : MSComm1;
    QPushButton *button = link == 0 ? cmd_coneck : cmd_coneck1;
    button->setText(port->isOpen() ? links::disconnectCaption : links::connectCaption);
    QString tip = QStringLiteral("Port %1: %2, %3")
                      .arg(port->portNumber())
                      .arg(port->deviceName(),
                           port->isOpen() ? QStringLiteral("open") : QStringLiteral("closed"));
    if (!port->isOpen() && !port->lastOpenError().isEmpty())
        tip += QStringLiteral("\nCannot open: %1").arg(port->lastOpenError());
    if (!port->openNotice().isEmpty())
        tip += u'\n' + port->openNotice();
    const PortKeeper *keeper = keepers_[link];
    if (keeper->isLost())
        tip += QStringLiteral("\nThe device failed under the station");
    if (keeper->isRetrying())
        tip += QStringLiteral("\nLast try %1, next try %2 (right-click to stop trying)")
                   .arg(keeper->lastTry().toString(QStringLiteral("HH:mm:ss")),
                        keeper->nextTry().toString(QStringLiteral("HH:mm:ss")));
    button->setToolTip(tip);
    if (!button->actions().isEmpty())
        button->actions().constFirst()->setEnabled(keeper->isRetrying());
}

void Form1::offerStatsReset(const QPoint &pos) {
    const QModelIndex index = tabel->indexAt(pos);
    const auto slot = Diagnostics::slotOfColumn(index.column());
    if (!index.isValid() || index.row() != 0 || !slot)
        return;
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("Reset statistics"), this,
                    [this, slot] { diagnostics_->reset(slot->first, slot->second); });
    menu->addAction(QStringLiteral("Traffic…"), this, [this, slot] { showTraffic(slot); });
    menu->popup(tabel->viewport()->mapToGlobal(pos));
}

void Form1::wireTrends() {
    trends_ = new trend::Trends(this);
    for (int link = 0; link < 2; ++link)
        trends_->recorder().watch(link, *polls_[link]);
    connect(tabel, &QTableWidget::cellDoubleClicked, this, [this](int row, int column) {
        if (const auto slot = Diagnostics::slotOfColumn(column); slot && row > 0)
            trends_->show(slot->first, slot->second, row);
    });
    connect(tabel, &QWidget::customContextMenuRequested, this, &Form1::offerTrend);
}

void Form1::offerTrend(const QPoint &pos) {
    const QModelIndex index = tabel->indexAt(pos);
    const auto slot = Diagnostics::slotOfColumn(index.column());
    if (!index.isValid() || index.row() < 1 || !slot)
        return;
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction *trend =
        menu->addAction(QStringLiteral("Trend…"), this, [this, slot, row = index.row()] {
            trends_->show(slot->first, slot->second, row);
        });
    trend->setEnabled(
        trends_->recorder().store().seriesAt(slot->first, slot->second, index.row()).has_value());
    menu->popup(tabel->viewport()->mapToGlobal(pos));
}

void Form1::wireTraffic() {
    traffic_ = new traffic::Traffic(traffic::captureFileFromEnvironment(), this);
    traffic_->addLink(0, *polls_[0]);
    traffic_->addLink(1, *polls_[1]);
    // What becomes of each port goes into the traffic as a row of its own.
    for (int link = 0; link < 2; ++link) {
        SerialTransport *port = link == 0 ? MSComm : MSComm1;
        connect(port, &SerialTransport::portLost, traffic_, [this, link](const QString &why) {
            traffic_->linkEvent(link, traffic::LinkEvent::Lost, why);
        });
        connect(keepers_[link], &PortKeeper::reopened, traffic_, [this, link, port] {
            traffic_->linkEvent(link, traffic::LinkEvent::Reopened, port->deviceName());
        });
        // A port that stays away is one row, not one a try.
        connect(keepers_[link], &PortKeeper::tryFailed, traffic_,
                [this, link](const QString &why, bool newReason) {
                    if (newReason)
                        traffic_->linkEvent(link, traffic::LinkEvent::OpenFailed, why);
                });
    }
    auto *open = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
    connect(open, &QShortcut::activated, this, [this] { showTraffic(); });
    // From the traffic window too.
    auto *commission = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_K), this);
    commission->setContext(Qt::ApplicationShortcut);
    connect(commission, &QShortcut::activated, this, [this] { showCommission(); });
}

commission::CommissionWindow *Form1::showCommission() {
    if (!commissionWindow_) {
        commission::StationAccess access{
            polls_, [this] { return txt_addr->text(); },
            [this](int link) {
                const auto &ids = link == 0 ? txtaID : txtaID1;
                const auto &boxes = link == 0 ? cheAID : cheAID1;
                std::vector<commission::SlotState> states;
                for (std::size_t i = 0; i < ids.size(); ++i)
                    states.push_back({boxes[i]->isChecked(), ids[i]->text()});
                return states;
            },
            [this](int link, int slot, int slave) {
                (link == 0 ? txtaID : txtaID1)[std::size_t(slot)]->setText(QString::number(slave));
                (link == 0 ? cheAID : cheAID1)[std::size_t(slot)]->setChecked(true);
            }};
        commissionWindow_ = new commission::CommissionWindow(std::move(access), this);
    }
    commissionWindow_->show();
    commissionWindow_->raise();
    commissionWindow_->activateWindow();
    return commissionWindow_;
}

traffic::TrafficWindow *Form1::showTraffic(std::optional<std::pair<int, int>> slot) {
    if (!trafficWindow_) {
        trafficWindow_ = new traffic::TrafficWindow(*traffic_, this);
        connect(trafficWindow_, &traffic::TrafficWindow::commissionRequested, this,
                &Form1::showCommission);
    }
    if (slot) {
        // The slave as the poll reads it from the box.
        const auto &ids = slot->first == 0 ? txtaID : txtaID1;
        const auto number = modbus::strictNumber(ids[slot->second]->text());
        const auto slave = number ? modbus::roundToInt32(*number) : std::nullopt;
        trafficWindow_->showOnly(slot->first, slave ? std::optional<int>(*slave) : std::nullopt);
    }
    trafficWindow_->show();
    trafficWindow_->raise();
    trafficWindow_->activateWindow();
    return trafficWindow_;
}

void Form1::load() {
    ComA->setCurrentIndex(4);
    BoudRateA->setCurrentIndex(1);
    // Both transports run 38400,n,8,1 and nothing else: there are no line settings to write.
    ComA1->setCurrentIndex(9);
    BoudRateA1->setCurrentIndex(1);
    if (MSComm->isOpen())
        MSComm->close();
    cmd_auto->setText(scan::autoCaption);
    cmd_auto1->setText(scan::autoCaption);
    cmd_coneck_Click();
    cmd_coneck1_Click();
    for (int i = 0; i < 4; ++i)
        cheAID[i]->setChecked(i == 0);
    for (auto *box : cheAID1)
        box->setChecked(false);
    const QStringList ids0{QStringLiteral("2"), QStringLiteral("60"), QStringLiteral("5"),
                           QStringLiteral("6")};
    const QStringList ids1{QStringLiteral("9"), QStringLiteral("10"), QString(), QString()};
    for (int i = 0; i < 4; ++i) {
        txtaID[i]->setText(ids0[i]);
        txtaID1[i]->setText(ids1[i]);
    }
    layoutGrid(*tabel, ids0, ids1, txt_addr->text(), txt_jumlahData->text());
    // The CRC table is a constant: nothing to fill.
    Timer2->start();
    Timer3->start();
}

void Form1::cmd_coneck_Click() {
    connectLink(0);
}

void Form1::cmd_coneck1_Click() {
    connectLink(1);
}

void Form1::connectLink(int link) {
    QPushButton *button = link == 0 ? cmd_coneck : cmd_coneck1;
    SerialTransport &port = link == 0 ? *MSComm : *MSComm1;
    const bool wasOpen = port.isOpen();
    const bool connecting = button->text() == links::connectCaption;
    links::connectClick(button->text(), (link == 0 ? ComA : ComA1)->currentText(), port);
    // The operator's choice holds: "Connect" keeps the port tried until it opens,
    // "DisConnect" leaves it closed.
    if (connecting) {
        keepers_[link]->operatorConnected();
        if (!wasOpen)
            traffic_->linkEvent(
                link, port.isOpen() ? traffic::LinkEvent::Opened : traffic::LinkEvent::OpenFailed,
                port.isOpen() ? port.deviceName() : port.lastOpenError());
    } else {
        keepers_[link]->operatorDisconnected();
        if (wasOpen && !port.isOpen())
            traffic_->linkEvent(link, traffic::LinkEvent::Closed, port.deviceName());
    }
    showLinkState(link); // the caption ends in line with the port
}

void Form1::cmdTest_Click() {
    polls_[0]->start();
}

void Form1::cmdTest1_Click() {
    polls_[1]->start();
}

void Form1::Autoscan() {
    scan_->autoscan();
}

bool Form1::CRC16(QByteArrayView data, int n) {
    modbus::CrcPair pair;
    const bool done = modbus::crc16(data, n, pair);
    crcHi = pair.hi;
    crcLo = pair.lo;
    return done;
}

void Form1::Command5_Click() {
    if (serverProblem_) { // nothing goes out to an address the line was not meant for
        WebBrowser1->showNotice(serverSettingPage(server_, *serverProblem_));
        Label5->setText(QStringLiteral("Not sent"));
        Label5->setToolTip(QStringLiteral("RTU_STATION_SERVER: ") + *serverProblem_);
        return;
    }
    Text1->setText(uploadUrl(server_, txtPrint->text()));
    WebBrowser1->navigate(Text1->text());
}

void Form1::takeSnapshot() {
    scan::takeSnapshot(
        [this](int column) {
            return tabel->cellText(scan::snapshotRow, column).value_or(QString());
        },
        *txtPrint, *snapshotWriter_);
}

void Form1::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    WebBrowser1->setGeometry(
        browserGeometry(WebBrowser1->geometry(), twips(width()), twips(height())));
}

void Form1::closeEvent(QCloseEvent *event) {
    // Both ports: the window's close ends the program, and a port is released at once, and
    // not taken again by a try still due.
    for (PortKeeper *keeper : keepers_)
        keeper->operatorDisconnected();
    for (SerialTransport *port : {MSComm, MSComm1})
        if (port->isOpen())
            port->close();
    event->accept();
}
