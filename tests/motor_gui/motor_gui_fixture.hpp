// What the motor windows' tests share: the application object (made once for
// the test program), finding a window's controls, and waiting with a deadline
// while the windows' timers run.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QWidget>
#include <functional>

namespace motorgui {

// Keeps processing events until `done` holds or `seconds` pass; returns `done`.
inline bool WaitFor(const std::function<bool()>& done, int seconds) {
    QDeadlineTimer deadline(seconds * 1000);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

// Lets the windows' timers tick for `ms` milliseconds.
inline void Spin(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

template <typename T>
T* Child(QWidget* window, const char* name) {
    T* child = window->findChild<T*>(name);
    if (child == nullptr) qFatal("no control %s", name);
    return child;
}

}  // namespace motorgui
