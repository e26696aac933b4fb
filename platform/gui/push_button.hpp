// The push buttons that pages and dialogs make in code.
#pragma once

#include <QKeyEvent>
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

// A press of Return or Enter: what a page without a default action swallows.
inline bool IsEnterKey(const QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}
