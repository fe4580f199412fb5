#include "celldelegate.h"

#include <QPainter>

namespace traffic {

void CellDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                         const QModelIndex &index) const {
    if (option.state & QStyle::State_Selected)
        return QStyledItemDelegate::paint(painter, option, index);
    const QVariant background = index.data(Qt::BackgroundRole);
    if (background.canConvert<QBrush>())
        painter->fillRect(option.rect, background.value<QBrush>());
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty())
        return;
    const QVariant fontData = index.data(Qt::FontRole);
    const QFont font = fontData.isValid() ? fontData.value<QFont>() : option.font;
    const QString key = font.bold() ? QStringLiteral("b") + text : text;
    QStaticText *layout = layouts_.object(key);
    if (!layout) {
        layout = new QStaticText(text);
        layout->setTextFormat(Qt::PlainText);
        layout->prepare(QTransform(), font);
        layouts_.insert(key, layout);
    }
    const QVariant foreground = index.data(Qt::ForegroundRole);
    const int margin = 3;
    const QRect area = option.rect.adjusted(margin, 0, -margin, 0);
    const QSizeF size = layout->size();
    const bool right = index.data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight;
    const QPointF at(right ? area.right() + 1 - size.width() : area.left(),
                     area.top() + (area.height() - size.height()) / 2);
    painter->save();
    painter->setClipRect(area);
    painter->setFont(font);
    painter->setPen(foreground.canConvert<QBrush>() ? foreground.value<QBrush>().color()
                                                    : option.palette.color(QPalette::Text));
    painter->drawStaticText(at, *layout);
    painter->restore();
}

} // namespace traffic
