#include "listboxstyle.h"

QRect ListBoxStyle::subControlRect(ComplexControl control, const QStyleOptionComplex *option,
                                   SubControl sub, const QWidget *widget) const {
    QRect rect = QProxyStyle::subControlRect(control, option, sub, widget);
    if (control != CC_ComboBox || (sub != SC_ComboBoxArrow && sub != SC_ComboBoxEditField))
        return rect;
    const QRect arrow = QProxyStyle::subControlRect(control, option, SC_ComboBoxArrow, widget);
    const int spare = arrow.width() - arrowWidth;
    if (spare <= 0)
        return rect;
    if (sub == SC_ComboBoxArrow)
        rect.setLeft(rect.left() + spare);
    else
        rect.setRight(rect.right() + spare);
    return rect;
}
