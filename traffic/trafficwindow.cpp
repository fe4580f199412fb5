#include "trafficwindow.h"

#include "capturefile.h"
#include "celldelegate.h"
#include "frametext.h"
#include "traffic.h"
#include "trafficmodel.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>
#include <numeric>

namespace traffic {
namespace {

// The table, sparing the repaint of the whole view once a second when a batch of rows is added
// at the end of a full view: scrolled up, only the scroll bar changes; at the bottom, the view
// scrolls to them (the window follows the newest row), which moves what is drawn and paints only
// the new rows. Any other change (rows taken away at the top, a reset, a view not yet full) is
// laid out and painted as usual.
class TrafficTable : public QTableView {
public:
    using QTableView::QTableView;

    void doItemsLayout() override {
        const bool quiet = insertedBelow_ && !otherChange_;
        insertedBelow_ = otherChange_ = false;
        if (quiet)
            return updateGeometries();
        QTableView::doItemsLayout();
    }
    void reset() override {
        otherChange_ = true;
        QTableView::reset();
    }

protected:
    void rowsInserted(const QModelIndex &parent, int start, int end) override {
        // The view is full and these rows come after the last one shown.
        const int lastShown = rowAt(viewport()->height() - 1);
        if (lastShown >= 0 && start > lastShown)
            insertedBelow_ = true;
        else
            otherChange_ = true;
        QTableView::rowsInserted(parent, start, end);
    }
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override {
        otherChange_ = true;
        QTableView::rowsAboutToBeRemoved(parent, start, end);
    }

private:
    bool insertedBelow_ = false;
    bool otherChange_ = false;
};

} // namespace

TrafficWindow::TrafficWindow(Traffic &traffic, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , traffic_(traffic)
    , model_(new TrafficModel(traffic, this))
    , table_(new TrafficTable(this))
    , pause_(new QPushButton(QStringLiteral("Pause"), this))
    , link_(new QComboBox(this))
    , slave_(new QLineEdit(this))
    , status_(new QLabel(this)) {
    setObjectName(QStringLiteral("traffic"));
    setWindowTitle(QStringLiteral("Traffic"));
    resize(1180, 600);

    pause_->setCheckable(true);
    link_->addItems({QStringLiteral("both"), QStringLiteral("0"), QStringLiteral("1")});
    slave_->setPlaceholderText(QStringLiteral("all"));
    slave_->setValidator(new QIntValidator(0, 255, slave_));
    slave_->setClearButtonEnabled(true);
    slave_->setMaximumWidth(80);
    auto *clear = new QPushButton(QStringLiteral("Clear"), this);
    auto *save = new QPushButton(QStringLiteral("Save…"), this);
    auto *commission = new QPushButton(QStringLiteral("Commission…"), this);
    commission->setToolTip(
        QStringLiteral("Find the slaves on a link and ask one-off questions (Ctrl+K)"));

    auto *bar = new QHBoxLayout;
    bar->addWidget(pause_);
    bar->addWidget(new QLabel(QStringLiteral("Link:"), this));
    bar->addWidget(link_);
    bar->addWidget(new QLabel(QStringLiteral("Slave:"), this));
    bar->addWidget(slave_);
    bar->addWidget(clear);
    bar->addWidget(save);
    bar->addStretch();
    bar->addWidget(commission);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(table_);
    layout->addWidget(status_);

    // Rows trimmed at the top move the current row, and the view scrolls to it: that is no
    // scroll of the operator's, so the table goes on following. Connected before the view's
    // own handlers, so that it runs first.
    connect(model_, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this] { trimming_ = true; });
    connect(model_, &QAbstractItemModel::rowsRemoved, this, [this] {
        trimming_ = false;
        if (following_)
            table_->scrollToBottom();
    });
    table_->setModel(model_);
    table_->setItemDelegate(new CellDelegate(table_));
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    table_->horizontalHeader()->setStretchLastSection(false);
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[] = {26, 10, 4, 4, 10, 24, 6, 10, 40};
    for (int column = 0; column < int(std::size(widths)); ++column)
        table_->setColumnWidth(column, widths[column] * digit + 12);
    connect(model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { fitColumns(first, last); });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        const int rows = model_->rowCount();
        fitColumns(std::max(0, rows - 500), rows - 1);
    });

    // Follow the newest row while the view is at the bottom.
    QScrollBar *scroll = table_->verticalScrollBar();
    connect(scroll, &QScrollBar::valueChanged, this, [this, scroll](int value) {
        if (!trimming_)
            following_ = value == scroll->maximum();
    });
    connect(scroll, &QScrollBar::rangeChanged, this, [this, scroll](int, int maximum) {
        if (following_)
            scroll->setValue(maximum);
    });

    connect(pause_, &QPushButton::toggled, this, [this](bool paused) {
        pause_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
        model_->setPaused(paused);
    });
    connect(link_, &QComboBox::currentIndexChanged, this, &TrafficWindow::applyFilter);
    connect(slave_, &QLineEdit::textChanged, this, &TrafficWindow::applyFilter);
    connect(clear, &QPushButton::clicked, model_, &TrafficModel::clear);
    connect(save, &QPushButton::clicked, this, &TrafficWindow::chooseSaveFile);
    connect(commission, &QPushButton::clicked, this, &TrafficWindow::commissionRequested);
    auto *copy = new QShortcut(QKeySequence::Copy, table_);
    copy->setContext(Qt::WidgetWithChildrenShortcut);
    connect(copy, &QShortcut::activated, this, &TrafficWindow::copySelection);
    connect(model_, &TrafficModel::heldBackChanged, this, &TrafficWindow::showStatus);
    if (CaptureFile *capture = traffic_.capture())
        connect(capture, &CaptureFile::dropsChanged, this, &TrafficWindow::showStatus);
    showStatus();
}

void TrafficWindow::showOnly(std::optional<int> link, std::optional<int> slave) {
    link_->setCurrentIndex(link ? *link + 1 : 0);
    slave_->setText(slave ? QString::number(*slave) : QString());
}

void TrafficWindow::applyFilter() {
    const int link = link_->currentIndex() - 1;
    bool ok = false;
    const int slave = slave_->text().toInt(&ok);
    model_->setFilter(link >= 0 ? std::optional(link) : std::nullopt,
                      ok ? std::optional(slave) : std::nullopt);
    following_ = true;
    table_->scrollToBottom();
}

void TrafficWindow::copySelection() {
    std::vector<int> rows;
    for (const QModelIndex &index : table_->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    if (!rows.empty())
        QApplication::clipboard()->setText(QString::fromUtf8(model_->lines(rows)));
}

void TrafficWindow::chooseSaveFile() {
    // Not modal in a nested loop: the dialog answers through its signal.
    auto *dialog = new QFileDialog(this, QStringLiteral("Save traffic"), QString(),
                                   QStringLiteral("Traffic (*.tsv *.txt);;All files (*)"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("tsv"));
    dialog->selectFile(saveName(QDateTime::currentDateTime()));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, &TrafficWindow::saveTo);
    dialog->open();
}

bool TrafficWindow::saveTo(const QString &path) {
    std::vector<int> rows(std::size_t(model_->rowCount()));
    std::iota(rows.begin(), rows.end(), 0);
    QSaveFile file(path);
    const bool saved = file.open(QIODevice::WriteOnly) &&
                       file.write(captureHeader() + model_->lines(rows)) >= 0 && file.commit();
    saveError_ =
        saved ? QString() : QStringLiteral("Could not save %1: %2").arg(path, file.errorString());
    showStatus();
    return saved;
}

QString TrafficWindow::saveName(const QDateTime &at) {
    return QStringLiteral("traffic-%1.tsv").arg(at.toString(QStringLiteral("yyyy-MM-dd-HHmmss")));
}

void TrafficWindow::fitColumns(int first, int last) {
    // Bytes are capped: the tooltip holds a babbling line's whole row.
    constexpr int bytesCapChars = 100;
    const QFontMetrics metrics = table_->fontMetrics();
    const int margin = 12;
    for (int column :
         {int(TrafficModel::Slave), int(TrafficModel::Bytes), int(TrafficModel::Verdict)}) {
        int widest = table_->columnWidth(column);
        const int cap = column == TrafficModel::Bytes
                            ? bytesCapChars * metrics.horizontalAdvance(QLatin1Char('0')) + margin
                            : std::numeric_limits<int>::max();
        for (int row = first; row <= last; ++row)
            widest =
                std::max(widest, std::min(cap, metrics.horizontalAdvance(
                                                   model_->index(row, column).data().toString()) +
                                                   margin));
        if (widest != table_->columnWidth(column))
            table_->setColumnWidth(column, widest);
    }
}

QString TrafficWindow::statusText() const {
    QStringList parts;
    if (model_->isPaused())
        parts << QStringLiteral("Paused: %1 new frames not shown").arg(model_->heldBack());
    if (const CaptureFile *capture = traffic_.capture()) {
        if (capture->droppedLines() > 0)
            parts << QStringLiteral("%1 lines dropped: %2")
                         .arg(capture->droppedLines())
                         .arg(capture->dropReason());
        else
            parts << QStringLiteral("Capturing to %1").arg(capture->path());
    }
    if (!saveError_.isEmpty())
        parts << saveError_;
    return parts.join(QStringLiteral(" · "));
}

void TrafficWindow::showStatus() {
    status_->setText(statusText());
}

void TrafficWindow::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (!watching_)
        traffic_.watch(true);
    watching_ = true;
}

void TrafficWindow::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    if (watching_)
        traffic_.watch(false);
    watching_ = false;
}

} // namespace traffic
