#include "gridmenus.h"

#include "diagnostics.h"
#include "readinggrid.h"
#include "trends.h"

#include <QMenu>

GridMenus::GridMenus(ReadingGrid &grid, Diagnostics &diagnostics, trend::Trends &trends,
                     ShowTraffic showTraffic, QWidget *window)
    : QObject(window)
    , grid_(grid)
    , diagnostics_(diagnostics)
    , trends_(trends)
    , showTraffic_(std::move(showTraffic))
    , window_(window) {
    grid_.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&grid_, &QWidget::customContextMenuRequested, this, &GridMenus::offer);
    connect(&grid_, &QTableWidget::cellDoubleClicked, this, [this](int row, int column) {
        if (const auto slot = Diagnostics::slotOfColumn(column); slot && row > 0)
            trends_.show(slot->first, slot->second, row);
    });
}

void GridMenus::offer(const QPoint &pos) {
    const QModelIndex index = grid_.indexAt(pos);
    const auto slot = Diagnostics::slotOfColumn(index.column());
    if (!index.isValid() || !slot)
        return;
    const int link = slot->first, slotIndex = slot->second;
    auto *menu = new QMenu(window_);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    if (index.row() == 0) {
        menu->addAction(QStringLiteral("Reset statistics"), this,
                        [this, link, slotIndex] { diagnostics_.reset(link, slotIndex); });
        menu->addAction(QStringLiteral("Traffic…"), this,
                        [this, link, slotIndex] { showTraffic_(link, slotIndex); });
    } else {
        const int row = index.row();
        QAction *trend =
            menu->addAction(QStringLiteral("Trend…"), this,
                            [this, link, slotIndex, row] { trends_.show(link, slotIndex, row); });
        trend->setEnabled(trends_.recorder().store().seriesAt(link, slotIndex, row).has_value());
    }
    menu->popup(grid_.viewport()->mapToGlobal(pos));
}
