#include "form1.h"

#include "browserpane.h"
#include "crc16.h"
#include "diagnostics.h"
#include "gridmenus.h"
#include "linkconnection.h"
#include "listboxstyle.h"
#include "makecontrol.h"
#include "numbers.h"
#include "progressbar.h"
#include "qserialtransport.h"
#include "readinggrid.h"
#include "resizerule.h"
#include "scancontrol.h"
#include "snapshot.h"
#include "snapshotstep.h"
#include "statefolder.h"
#include "stationfont.h"
#include "stationwindows.h"
#include "traffic.h"
#include "trends.h"
#include "uploadpanel.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using modbus::linkCount;
using modbus::slotCount;

Form1::Form1(Ports ports, Form1Options options, QWidget *parent)
    : QWidget(parent)
    , settings_(options.settings ? *options.settings : StationSettings::fromEnvironment())
    , clock_(options.clock ? *options.clock : clk::systemClock())
    , csvPath_(options.csvPath.isEmpty() ? snapshotFilePath(settings_.stateFolder)
                                         : options.csvPath) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setFont(stationFont());
    resize(px(13320), px(9315));
    createControls();
    traffic_ = new traffic::Traffic(settings_.capturePath, this);
    createLinks(ports, options);
    snapshotWriter_ =
        new scan::SnapshotWriter(csvPath_, options.writeSnapshot, options.snapshotStuckMs, this);
    scan::showWritesIn(*txtPrint, *snapshotWriter_);
    wire();
    load();
}

Form1::~Form1() {
    // Nothing may touch a control once the window is going: stop the cycle and both polls here,
    // before the controls are destroyed.
    scan_->cancel();
    for (const StationLink &link : links_)
        link.poll->cancel();
}

void Form1::createControls() {
    Frame4 = makeControl<QGroupBox>(this, "Frame4", 0, 120, 4455, 5535, QStringLiteral("Frame4"));
    for (int link = 0; link < linkCount; ++link)
        links_[link].controls = makeLinkControls(Frame4, link);
    // Made after the lists, so that it outlives them.
    auto *listStyle = new ListBoxStyle;
    listStyle->setParent(this);
    for (const StationLink &link : links_)
        for (auto *list : {link.controls.port, link.controls.baud})
            list->setStyle(listStyle);

    Frame2 =
        makeControl<QGroupBox>(Frame4, "Frame2", 240, 4320, 3855, 1095, QStringLiteral("Frame2"));
    Label9 =
        makeControl<QLabel>(Frame2, "Label9", 120, 360, 1095, 255, QStringLiteral("Start Addres"));
    txt_addr =
        makeControl<QLineEdit>(Frame2, "txt_addr", 1080, 240, 615, 285, QStringLiteral("1139"));
    Label10 = makeControl<QLabel>(Frame2, "Label10", 120, 600, 975, 375, QStringLiteral("Panjang"));
    txt_jumlahData =
        makeControl<QLineEdit>(Frame2, "txt_jumlahData", 1080, 600, 615, 285, QStringLiteral("12"));
    PBScan =
        makeControl<QPushButton>(Frame2, "PBScan", 1920, 240, 1575, 375, QStringLiteral("Scan ON"));
    // Lies below the panel's lower edge: the panel clips it out of sight.
    cmdAuto =
        makeControl<QPushButton>(Frame2, "cmdAuto", 2040, 3000, 975, 375, QStringLiteral("Manual"));

    tabel = makeControl<ReadingGrid>(this, "tabel", 4560, 120, 8415, 5055);
    txtPrint = makeControl<QLineEdit>(this, "txtPrint", 4680, 5400, 8415, 405);
    Label5 = makeControl<QLabel>(this, "Label5", 360, 5760, 1455, 255, QStringLiteral("Label5"));
    Command5 =
        makeControl<QPushButton>(this, "Command5", 3720, 5760, 855, 375, QStringLiteral("GGO"));
    Text1 = makeControl<QLineEdit>(this, "Text1", 4680, 5760, 7455, 375, QStringLiteral("Text1"));
    Command1 =
        makeControl<QPushButton>(this, "Command1", 240, 6360, 1335, 375, QStringLiteral("Forward"));
    Command2 =
        makeControl<QPushButton>(this, "Command2", 1680, 6360, 1335, 375, QStringLiteral("Back"));
    Command3 =
        makeControl<QPushButton>(this, "Command3", 3120, 6360, 1335, 375, QStringLiteral("Refres"));
    Command4 =
        makeControl<QPushButton>(this, "Command4", 4560, 6360, 1335, 375, QStringLiteral("Stop"));
    ProgressBar1 = makeControl<FractionProgressBar>(this, "ProgressBar1", 6000, 6360, 3375, 375);
    WebBrowser1 = makeControl<BrowserPane>(this, "WebBrowser1", 360, 6840, 3855, 615);

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

void Form1::createLinks(Ports ports, const Form1Options &options) {
    for (int link = 0; link < linkCount; ++link) {
        StationLink &l = links_[link];
        l.port = ports[link];
        if (l.port)
            l.port->setParent(this);
        else
            l.port = new QSerialTransport(settings_.portPattern, this);
        l.port->setObjectName(link == 0 ? QStringLiteral("MSComm") : QStringLiteral("MSComm1"));
        l.poll = makeLinkPoll(link, l.controls, *txt_addr, *txt_jumlahData, *l.port, clock_, this);
        l.poll->setReplyTimeout(options.replyTimeoutMs);
        // One reading, in this order: the values into the grid, then the address column and the
        // slot's header, which name what was read, not what the boxes say now. The diagnostics,
        // connected after, see the grid with the values in.
        connect(l.poll, &modbus::LinkPoll::slotFinished, this,
                [this, link](int slot, const modbus::SlotResult &result) {
                    showReading(link, slot, result);
                });
        traffic_->addLink(link, *l.poll);
        l.connection = new LinkConnection(link, *l.controls.connect, *l.controls.port, *l.port,
                                          *traffic_, options.portRetryUnitMs, this);
        l.keeper = l.connection->keeper();
    }
}

void Form1::showReading(int link, int slot, const modbus::SlotResult &result) {
    const int column = firstSlotColumn(link) + slot;
    if (result.outcome == modbus::SlotOutcome::Valid) {
        showValues(*tabel, column, result.registers);
        labelBlock(*tabel, result.request.start, result.request.count);
    }
    if (result.outcome == modbus::SlotOutcome::Valid ||
        result.outcome == modbus::SlotOutcome::Exception ||
        result.outcome == modbus::SlotOutcome::NoReply)
        labelSlave(*tabel, column, result.request.slave);
}

void Form1::wire() {
    std::array<QPushButton *, linkCount> modes{};
    std::array<modbus::LinkPoll *, linkCount> polls{};
    std::array<Diagnostics::Link, linkCount> diagnosed;
    for (int link = 0; link < linkCount; ++link) {
        const StationLink &l = links_[link];
        modes[link] = l.controls.mode;
        polls[link] = l.poll;
        diagnosed[link] = {l.poll, l.controls.boxes, l.controls.ids, firstSlotColumn(link)};
    }
    scan_ = new scan::ScanControl(
        {PBScan, modes, cmdTest, cmdAuto, Timer3, Timer2, polls, [this] { takeSnapshot(); }}, this);
    for (int link = 0; link < linkCount; ++link) {
        connect(modes[link], &QPushButton::clicked, scan_,
                [this, link] { scan_->modeClicked(link); });
        connect(links_[link].controls.test, &QPushButton::clicked, polls[link],
                [poll = polls[link]] { poll->start(); });
    }
    connect(cmdAuto, &QPushButton::clicked, scan_, &scan::ScanControl::testEnablerClicked);
    connect(PBScan, &QPushButton::clicked, scan_, &scan::ScanControl::scanSwitchClicked);
    connect(Timer2, &QTimer::timeout, scan_, &scan::ScanControl::startTimerTicked);
    connect(Timer3, &clk::Timer::timeout, this, &Form1::Autoscan);
    diagnostics_ = new Diagnostics(*tabel, diagnosed, this);
    trends_ = new trend::Trends(this);
    for (int link = 0; link < linkCount; ++link)
        trends_->recorder().watch(link, *polls[link]);
    upload_ = new UploadPanel({Command5, Command1, Command2, Command3, txtPrint, Text1, Label5,
                               ProgressBar1, WebBrowser1},
                              settings_.server, settings_.serverProblem, this);
    wireWindows();
}

// The windows the operator opens from this one: from the grid's menus and by key.
void Form1::wireWindows() {
    windows_ = new StationWindows(*this, *traffic_, links_, *txt_addr);
    const auto slotTraffic = [this](int link, int slot) { showTraffic(std::pair{link, slot}); };
    new GridMenus(*tabel, *diagnostics_, *trends_, slotTraffic, this);
}

traffic::TrafficWindow *Form1::showTraffic(std::optional<std::pair<int, int>> slot) {
    return windows_->showTraffic(slot);
}

commission::CommissionWindow *Form1::showCommission() {
    return windows_->showCommission();
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
    const QStringList ids0{QStringLiteral("2"), QStringLiteral("60"), QStringLiteral("5"),
                           QStringLiteral("6")};
    const QStringList ids1{QStringLiteral("9"), QStringLiteral("10"), QString(), QString()};
    for (int i = 0; i < slotCount; ++i) { // only link 0's first slot is polled at first
        cheAID[i]->setChecked(i == 0);
        cheAID1[i]->setChecked(false);
        txtaID[i]->setText(ids0[i]);
        txtaID1[i]->setText(ids1[i]);
    }
    layoutGrid(*tabel, ids0, ids1, txt_addr->text(), txt_jumlahData->text());
    // The CRC table is a constant: nothing to fill.
    Timer2->start();
    Timer3->start();
}

void Form1::cmd_coneck_Click() {
    links_[0].connection->click();
}

void Form1::cmd_coneck1_Click() {
    links_[1].connection->click();
}

void Form1::cmdTest_Click() {
    links_[0].poll->start();
}

void Form1::cmdTest1_Click() {
    links_[1].poll->start();
}

void Form1::Command5_Click() {
    upload_->send();
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
    for (const StationLink &link : links_)
        link.connection->release();
    event->accept();
}
