#include "tools/gui/cat_tools.hpp"

CatTools::CatTools(QWidget* parent) : QWidget(parent) {}
