// The tool's own icon, for its windows' captions and the task bar.
#pragma once

#include <QIcon>

// The icon at the sizes that captions, task bars and desktops ask for, drawn from
// the picture compiled into the program. Needs the application object.
QIcon QuendrelIcon();

// The sizes QuendrelIcon() holds, in pixels.
inline constexpr int kQuendrelIconSizes[] = {16, 24, 32, 48, 64, 128, 256};
