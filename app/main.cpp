// Program load: the application object first (widgets need it), then the
// dialogs and pages that live for the whole run, then the bus threads with the
// EEPROM jobs their service loop runs; the bus threads stop before those
// objects go.
#include "app/gui/application.hpp"
#include "app/gui/global_dialogs.hpp"
#include "bus/bus_threads.hpp"
#include "tools/eeprom_image.hpp"

int main(int argc, char* argv[]) {
    CDuZEraDezorav1App theApp(argc, argv);
    CreateGlobalDialogs();
    InstallEepromImageJobs();
    StartBusThreads();
    const int exitCode = theApp.InitInstance();
    StopBusThreads();
    DestroyGlobalDialogs();
    return exitCode;
}
