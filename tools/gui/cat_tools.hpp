// The CatTools tab page: empty until its controls are built.
#pragma once

#include <QWidget>

class CatTools : public QWidget {
    Q_OBJECT
  public:
    explicit CatTools(QWidget* parent = nullptr);
};

// The one instance, made by CreateGlobalDialogs at start and kept for the run.
extern CatTools* g_dlgCatTools;
