#pragma once

#include <QProxyStyle>

// The window's drop-down lists are 57 pixels wide, laid out for a 17-pixel arrow button; the
// toolkit's default button is wider and leaves the field too narrow for "115200". This style
// narrows the button and gives the field what it frees; everything else is the default style.
class ListBoxStyle : public QProxyStyle {
public:
    static constexpr int arrowWidth = 12;

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl sub,
                         const QWidget *widget) const override;
};
