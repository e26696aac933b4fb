// The motor parameter initialisation dialog.
#pragma once

#include <QDialog>

class VozeRudadoziraVur : public QDialog {
    Q_OBJECT
public:
    explicit VozeRudadoziraVur(QWidget* parent = nullptr);
};
