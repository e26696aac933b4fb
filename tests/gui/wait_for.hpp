// Waiting with a deadline while the GUI thread keeps handling its events.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

namespace guitest {

// Keeps processing events until `done` holds or `seconds` pass; returns `done`.
inline bool WaitFor(const std::function<bool()>& done, int seconds) {
    QDeadlineTimer deadline(seconds * 1000);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

}  // namespace guitest
