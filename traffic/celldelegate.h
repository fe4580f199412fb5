#pragma once

#include <QCache>
#include <QStaticText>
#include <QStyledItemDelegate>

namespace traffic {

// Draws a traffic cell with its text laid out once and kept: a live table repaints every visible
// row after each insertion, and laying out the same texts again is what that would cost. Long
// texts are clipped at the cell's edge (the tooltip has them whole); selected cells are drawn the
// usual way.
class CellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

private:
    mutable QCache<QString, QStaticText> layouts_{4000};
};

} // namespace traffic
