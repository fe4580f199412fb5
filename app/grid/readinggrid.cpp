#include "readinggrid.h"

#include "numbers.h"
#include "twips.h"

#include <QHeaderView>

namespace {

bool isFixed(int row, int column) {
    return row == 0 || column == 0;
}

} // namespace

ReadingGrid::ReadingGrid(QWidget *parent)
    : QTableWidget(rows, columns, parent) {
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(px(300));
    verticalHeader()->setDefaultSectionSize(px(300));
    horizontalHeader()->setMinimumSectionSize(1);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setStyleSheet(QStringLiteral("QTableWidget { gridline-color: rgb(192, 192, 192); }"));
    const QPalette button = palette();
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            auto *item = new QTableWidgetItem;
            if (isFixed(r, c)) {
                item->setFlags(Qt::ItemIsEnabled);
                item->setBackground(button.button());
                item->setForeground(button.buttonText());
            } else {
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            }
            setItem(r, c, item); // the table owns its items
        }
    }
}

bool ReadingGrid::setCellText(int row, int column, const QString &text) {
    if (!inside(row, column))
        return false;
    item(row, column)->setText(text);
    return true;
}

std::optional<QString> ReadingGrid::cellText(int row, int column) const {
    if (!inside(row, column))
        return std::nullopt;
    return item(row, column)->text();
}

bool ReadingGrid::setColumnWidthTwips(int column, int widthTwips) {
    if (column < 0 || column >= columns || widthTwips < 0)
        return false;
    setColumnWidth(column, px(widthTwips));
    return true;
}

void ReadingGrid::setCellStale(int row, int column, bool stale) {
    if (inside(row, column) && !isFixed(row, column) && isCellStale(row, column) != stale)
        item(row, column)->setForeground(stale ? QBrush(Qt::gray) : QBrush());
}

bool ReadingGrid::isCellStale(int row, int column) const {
    return inside(row, column) && item(row, column)->foreground().style() != Qt::NoBrush;
}

QString cellText(std::uint16_t value) {
    return u' ' + QString::number(value);
}

void showValues(ReadingGrid &grid, int column, std::span<const std::uint16_t> values) {
    for (std::size_t r = 0; r < values.size() && int(r) + 1 < ReadingGrid::rows; ++r)
        grid.setCellText(int(r) + 1, column, cellText(values[r]));
}

void layoutGrid(ReadingGrid &grid, const QStringList &link0Ids, const QStringList &link1Ids,
                const QString &startText, const QString &countText) {
    for (int c = 1; c < ReadingGrid::columns; ++c)
        grid.setColumnWidthTwips(c, 700);
    grid.setColumnWidthTwips(0, 350);
    grid.setCellText(0, 2, QStringLiteral("ADDR: "));
    const QString id = QStringLiteral("ID: ");
    for (int i = 0; i < modbus::slotCount; ++i) {
        grid.setCellText(0, firstSlotColumn(0) + i, id + link0Ids.value(i));
        grid.setCellText(0, firstSlotColumn(1) + i, id + link1Ids.value(i));
    }
    // Column 11 is fed by no slot; its header stays empty.
    const double start = modbus::lenientNumber(startText);
    const auto count = modbus::roundToInt32(modbus::lenientNumber(countText)).value_or(0);
    for (int k = 1; k <= count && k < ReadingGrid::rows; ++k)
        grid.setCellText(k, 2, QString::number(start + k - 1, 'g', 15));
}

void labelBlock(ReadingGrid &grid, int start, int count) {
    for (int k = 1; k < ReadingGrid::rows; ++k)
        grid.setCellText(k, 2, k <= count ? QString::number(start + k - 1) : QString());
}

void labelSlave(ReadingGrid &grid, int column, int slave) {
    grid.setCellText(0, column, QStringLiteral("ID: ") + QString::number(slave));
}
