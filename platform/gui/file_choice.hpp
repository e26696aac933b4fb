// The open-file question the tool's pages and dialogs ask.
#pragma once

#include <QDialog>
#include <QFileDialog>
#include <QString>

// Asks for an existing file "(*.<suffix>)", starting in `folder` when one is
// given; empty when the user cancels.
inline QString ChooseExistingFile(QWidget* parent, const QString& suffix,
                                  const QString& folder = {}) {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter("(*." + suffix + ")");
    dialog.setDefaultSuffix(suffix);
    if (!folder.isEmpty()) dialog.setDirectory(folder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}
