// The one-line fields of pages and dialogs: a field acts on every change of its
// text, whoever makes it (typing, a paste, a screen reader or automation through
// the accessibility interface), but not on the text the window puts in itself.
#pragma once

#include <QLineEdit>
#include <QObject>
#include <QSignalBlocker>
#include <QString>
#include <utility>

// Runs `handler` in `receiver` on every change of the text of `edit`.
template <typename Handler>
void OnFieldChange(QLineEdit* edit, const QObject* receiver, Handler handler) {
    QObject::connect(edit, &QLineEdit::textChanged, receiver, std::move(handler));
}

// Puts `text` into `edit` as the window's own fill: no change handler runs. An
// unchanged text is left alone, so typing goes on where the cursor stands.
inline void ShowFieldText(QLineEdit* edit, const QString& text) {
    if (edit->text() == text) return;
    const QSignalBlocker block(edit);
    edit->setText(text);
}
