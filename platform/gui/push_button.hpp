// The push buttons that pages and dialogs make in code.
#pragma once

#include <QPushButton>
#include <QRect>
#include <QString>

// A push button named `name` at `geometry` in `parent`, which Enter does not
// press unless it has the focus: a window's fields never start its work.
inline QPushButton* MakeButton(const QString& caption, const char* name, const QRect& geometry,
                               QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    button->setGeometry(geometry);
    return button;
}
