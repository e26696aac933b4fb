// The application object: the toolkit's application with the program's start-up.
#pragma once

#include <QApplication>

// What the process returns when another instance already runs (247 as the shell
// sees it).
inline constexpr int kAlreadyRunningExitCode = -9;

class CDuZEraDezorav1App : public QApplication {
    Q_OBJECT
  public:
    CDuZEraDezorav1App(int& argc, char** argv);

    // Runs the main window until a Quit command ends it and returns the process's
    // exit code: 0, or kAlreadyRunningExitCode when another instance holds the
    // lock (then no window is made and nothing is read, written or sent).
    int InitInstance();
};
