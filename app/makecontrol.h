#pragma once

#include "twips.h"

#include <QString>
#include <QWidget>

// A control of the window: its name, its place and size in twips, and its caption or text.
template <typename T>
T *makeControl(QWidget *parent, const char *name, int left, int top, int width, int height,
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
