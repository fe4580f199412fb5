#include "commissionwindow.h"

#include "frametext.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace commission {
namespace {

QTableWidget *table(const QStringList &headers, QWidget *parent) {
    auto *t = new QTableWidget(0, int(headers.size()), parent);
    t->setHorizontalHeaderLabels(headers);
    t->verticalHeader()->hide();
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->horizontalHeader()->setStretchLastSection(true);
    t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 6);
    return t;
}

// Every column but the last (which takes the rest) as wide as its text.
void fitColumns(QTableWidget *t) {
    for (int c = 0; c + 1 < t->columnCount(); ++c)
        t->resizeColumnToContents(c);
}

void addRow(QTableWidget *t, const QStringList &texts) {
    const int row = t->rowCount();
    t->insertRow(row);
    for (int c = 0; c < texts.size(); ++c)
        t->setItem(row, c, new QTableWidgetItem(texts[c]));
}

QLineEdit *edit(const QString &text, int chars, QWidget *parent) {
    auto *e = new QLineEdit(text, parent);
    e->setMaximumWidth(e->fontMetrics().horizontalAdvance(QLatin1Char('0')) * chars + 16);
    return e;
}

} // namespace

CommissionWindow::CommissionWindow(StationAccess station, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , scanFrom(edit(QString::number(firstSlaveAddress), 4, this))
    , scanTo(edit(QString::number(lastSlaveAddress), 4, this))
    , scanTimeout(edit(QString::number(defaultScanTimeoutMs), 5, this))
    , scanButton(new QPushButton(QStringLiteral("&Scan"), this))
    , stopButton(new QPushButton(QStringLiteral("S&top"), this))
    , slotButton(new QPushButton(QStringLiteral("&Put in a free slot"), this))
    , scanProgress(new QProgressBar(this))
    , foundTable(table(
          {QStringLiteral("Slave"), QStringLiteral("Response ms"), QStringLiteral("Said")}, this))
    , readSlave(edit(QString(), 4, this))
    , readStart(edit(QString(), 7, this))
    , readCount(edit(QStringLiteral("2"), 4, this))
    , readFunction(new QComboBox(this))
    , readButton(new QPushButton(QStringLiteral("&Read"), this))
    , decodedTable(table(decodedHeaders(), this))
    , message(new QLabel(this))
    , station_(std::move(station))
    , link_(new QComboBox(this)) {
    setObjectName(QStringLiteral("commission"));
    setWindowTitle(QStringLiteral("Commissioning"));
    resize(900, 700);
    link_->addItems({QStringLiteral("0  Pielstick"), QStringLiteral("1  SWD9TM")});
    readFunction->addItem(QStringLiteral("3 holding registers"), 3);
    readFunction->addItem(QStringLiteral("4 input registers"), 4);
    readStart->setText(station_.blockStart ? station_.blockStart() : QStringLiteral("0"));
    message->setWordWrap(true);
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Link:"), this));
    top->addWidget(link_);
    top->addStretch();

    auto *scanBox = new QGroupBox(QStringLiteral("Bus scan"), this);
    auto *scanBar = new QHBoxLayout;
    scanBar->addWidget(new QLabel(QStringLiteral("Addresses"), this));
    scanBar->addWidget(scanFrom);
    scanBar->addWidget(new QLabel(QStringLiteral("to"), this));
    scanBar->addWidget(scanTo);
    scanBar->addWidget(new QLabel(QStringLiteral("Time-out ms"), this));
    scanBar->addWidget(scanTimeout);
    scanBar->addWidget(scanButton);
    scanBar->addWidget(stopButton);
    scanBar->addWidget(scanProgress, 1);
    auto *scanLayout = new QVBoxLayout(scanBox);
    scanLayout->addLayout(scanBar);
    scanLayout->addWidget(foundTable);
    auto *foundBar = new QHBoxLayout;
    foundBar->addWidget(slotButton);
    foundBar->addStretch();
    scanLayout->addLayout(foundBar);

    auto *readBox = new QGroupBox(QStringLiteral("One-off read"), this);
    auto *readBar = new QHBoxLayout;
    // Each box has its key (Alt and the underlined letter), as have the buttons.
    for (auto [text, box] :
         {std::pair{"Sla&ve", readSlave}, {"St&art", readStart}, {"&Count", readCount}}) {
        auto *label = new QLabel(QString::fromUtf8(text), this);
        label->setBuddy(box);
        readBar->addWidget(label);
        readBar->addWidget(box);
    }
    readBar->addWidget(readFunction);
    readBar->addWidget(readButton);
    readBar->addStretch();
    auto *readLayout = new QVBoxLayout(readBox);
    readLayout->addLayout(readBar);
    readLayout->addWidget(decodedTable);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(scanBox, 1);
    layout->addWidget(readBox, 1);
    layout->addWidget(message);

    for (int l = 0; l < 2; ++l) {
        if (!station_.polls[std::size_t(l)])
            continue;
        auto *scan = new BusScan(*station_.polls[std::size_t(l)], this);
        scans_[std::size_t(l)] = scan;
        connect(scan, &BusScan::slaveFound, this, [this, l](const Found &f) { onFound(l, f); });
        connect(scan, &BusScan::progress, this, [this, l](int asked, int total) {
            if (l != link())
                return;
            scanProgress->setRange(0, total);
            scanProgress->setValue(asked);
        });
        connect(scan, &BusScan::finished, this, [this, l](bool complete) {
            if (l == link())
                say(QStringLiteral("Scan of link %1 %2: %3 slaves answered")
                        .arg(l)
                        .arg(complete ? QStringLiteral("done") : QStringLiteral("stopped"))
                        .arg(scans_[std::size_t(l)]->found().size()));
            showLinkState();
        });
        connect(station_.polls[std::size_t(l)], &modbus::LinkPoll::answered, this,
                [this, l](const modbus::Answer &a) { onAnswer(l, a); });
    }
    connect(link_, &QComboBox::currentIndexChanged, this, [this] {
        foundTable->setRowCount(0);
        for (const Found &f : scans_[std::size_t(link())]->found())
            onFound(link(), f);
        showLinkState();
    });
    connect(scanButton, &QPushButton::clicked, this, &CommissionWindow::startScan);
    connect(stopButton, &QPushButton::clicked, this,
            [this] { scans_[std::size_t(link())]->stop(); });
    connect(readButton, &QPushButton::clicked, this, &CommissionWindow::read);
    connect(slotButton, &QPushButton::clicked, this, &CommissionWindow::putSelectedInSlot);
    connect(foundTable, &QTableWidget::itemSelectionChanged, this, [this] {
        // The slave chosen is the one a one-off read asks.
        const auto rows = foundTable->selectionModel()->selectedRows();
        if (!rows.isEmpty())
            readSlave->setText(foundTable->item(rows.first().row(), 0)->text());
        showLinkState();
    });
    showLinkState();
}

int CommissionWindow::link() const {
    return link_->currentIndex();
}

void CommissionWindow::setLink(int link) {
    link_->setCurrentIndex(link);
}

void CommissionWindow::showLinkState() {
    const BusScan *scan = scans_[std::size_t(link())];
    const bool scanning = scan && scan->isRunning();
    scanButton->setEnabled(!scanning && !reading_[std::size_t(link())]);
    stopButton->setEnabled(scanning);
    readButton->setEnabled(!scanning && !reading_[std::size_t(link())]);
    slotButton->setEnabled(!foundTable->selectionModel()->selectedRows().isEmpty());
}

void CommissionWindow::say(const QString &text, bool problem) {
    message->setText(text);
    message->setStyleSheet(problem ? QStringLiteral("color: #b00000;") : QString());
}

void CommissionWindow::startScan() {
    const auto plan = scanPlan(scanFrom->text(), scanTo->text(), scanTimeout->text(),
                               station_.blockStart ? station_.blockStart() : QStringLiteral("0"));
    if (const auto *error = std::get_if<QString>(&plan))
        return say(*error, true);
    foundTable->setRowCount(0);
    if (!scans_[std::size_t(link())]->start(std::get<ScanPlan>(plan)))
        return say(QStringLiteral("Link %1 is answering another question; try again").arg(link()),
                   true);
    say(QStringLiteral("Scanning link %1; its slotStates wait meanwhile").arg(link()));
    showLinkState();
}

void CommissionWindow::onFound(int link, const Found &found) {
    if (link != this->link())
        return;
    addRow(foundTable, {QString::number(found.slave), traffic::millis(found.answer.responseMicros),
                        answerText(found.answer)});
    fitColumns(foundTable);
}

void CommissionWindow::putSelectedInSlot() {
    const auto rows = foundTable->selectionModel()->selectedRows();
    if (rows.isEmpty() || !station_.slotStates || !station_.putInSlot)
        return;
    const int slave = foundTable->item(rows.first().row(), 0)->text().toInt();
    const std::vector<SlotState> slotStates = station_.slotStates(link());
    const auto slot = freeSlot(slotStates, slave);
    if (!slot)
        return say(QStringLiteral("All four slotStates of link %1 are in use; untick one first")
                       .arg(link()),
                   true);
    if (slotStates[std::size_t(*slot)].enabled)
        return say(QStringLiteral("Slave %1 is polled already, in slot %2").arg(slave).arg(*slot));
    station_.putInSlot(link(), *slot, slave);
    say(QStringLiteral("Slave %1 put into slot %2 of link %3").arg(slave).arg(*slot).arg(link()));
}

void CommissionWindow::read() {
    const auto question =
        oneOffRead(readSlave->text(), readStart->text(), readCount->text(),
                   readFunction->currentData().toInt(), modbus::LinkPoll::defaultTimeoutMs);
    if (const auto *error = std::get_if<QString>(&question))
        return say(*error, true);
    if (!station_.polls[std::size_t(link())]->ask(std::get<modbus::Question>(question)))
        return say(QStringLiteral("Link %1 is answering another question; try again").arg(link()),
                   true);
    reading_[std::size_t(link())] = true;
    decodedTable->setRowCount(0);
    say(QStringLiteral("Asking…"));
    showLinkState();
}

void CommissionWindow::onAnswer(int link, const modbus::Answer &answer) {
    if (!reading_[std::size_t(link)])
        return; // a scan's question
    reading_[std::size_t(link)] = false;
    showLinkState();
    const auto &r = answer.question.request;
    const QString asked = QStringLiteral("Slave %1, function %2, %3 registers from %4 on link %5")
                              .arg(r.slave)
                              .arg(r.function)
                              .arg(r.count)
                              .arg(r.start)
                              .arg(link);
    if (answer.outcome != modbus::SlotOutcome::Valid)
        return say(asked + QStringLiteral(": ") + answerText(answer), true);
    decodedTable->setRowCount(0);
    for (const RegisterRow &row : decodeRegisters(r.start, answer.registers))
        addRow(decodedTable, decodedTexts(row));
    fitColumns(decodedTable);
    say(asked + QStringLiteral(": answered in %1 ms").arg(traffic::millis(answer.responseMicros)));
}

} // namespace commission
