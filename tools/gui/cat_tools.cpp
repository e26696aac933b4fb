#include "tools/gui/cat_tools.hpp"

CatTools* g_dlgCatTools = nullptr;

CatTools::CatTools(QWidget* parent) : QWidget(parent) {}
