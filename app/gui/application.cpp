#include "app/gui/application.hpp"

#include "app/gui/app_icon.hpp"
#include "app/gui/main_window.hpp"
#include "bus/gui/busy_cursor.hpp"
#include "platform/gui/qt_message_box.hpp"
#include "platform/message_box.hpp"
#include "platform/single_instance.hpp"

CDuZEraDezorav1App::CDuZEraDezorav1App(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Quendrel"));
    // Every window without one of its own shows the tool's icon.
    setWindowIcon(QuendrelIcon());
    InstallBusyCursor();
    // Nobody could ever close a box on the offscreen platform: there the boxes
    // keep writing their text to standard error and the program goes on.
    if (platformName() != QLatin1String("offscreen")) InstallQtMessageBoxes();
}

int CDuZEraDezorav1App::InitInstance() {
    // The lock is taken before the main window exists, so a second instance
    // leaves before it reads settings or makes a page.
    if (!AcquireSingleInstanceLock()) {
        ShowMessageBox(L"The program is already in the start-up!");
        return kAlreadyRunningExitCode;
    }
    CDuZEraDezorav1Dlg mainWindow;
    mainWindow.OnInitDialog();
    mainWindow.exec();
    return 0;
}
