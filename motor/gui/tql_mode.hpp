// The TQL page: sends command lines and motor parameter files to the motors of a
// bridge and shows what was sent and what the motors answered.
#pragma once

#include <QWidget>

class TqlMode : public QWidget {
    Q_OBJECT
public:
    explicit TqlMode(QWidget* parent = nullptr);
};
