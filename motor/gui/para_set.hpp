// The bridge parameter dialog: reads and writes the bridge's own parameters.
#pragma once

#include <QDialog>

class ParaSet : public QDialog {
    Q_OBJECT
public:
    explicit ParaSet(QWidget* parent = nullptr);
};
