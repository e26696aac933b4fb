// What the motor windows' tests share: finding a window's controls, and waiting
// with a deadline while the windows' timers run.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QWidget>
#include <functional>

#include "gui/wait_for.hpp"

namespace motorgui {

using guitest::WaitFor;

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
