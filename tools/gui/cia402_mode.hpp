// The Cia402Mode tab page: empty until its controls are built.
#pragma once

#include <QWidget>

class Cia402Mode : public QWidget {
    Q_OBJECT
  public:
    explicit Cia402Mode(QWidget* parent = nullptr);
};

// The one instance, made by CreateGlobalDialogs at start and kept for the run.
extern Cia402Mode* g_dlgCia402Mode;
