// What the Qt test programs share: reaching a window's widgets (and actions) by
// their object names, and waiting while the event loop runs (timers, queued calls).
#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>

#include "support/wait_until.hpp"

namespace testsupport {

// The one child of `parent` (at any depth) of type T named `name`. A name that
// is missing or taken twice ends the program with a message that says which.
template <class T>
T* Child(const QObject* parent, const char* name) {
    const QList<T*> found = parent->findChildren<T*>(QString::fromLatin1(name));
    if (found.size() != 1) {
        qFatal("%lld %s named \"%s\" under %s \"%s\" (expected exactly one)",
               static_cast<long long>(found.size()), T::staticMetaObject.className(), name,
               parent->metaObject()->className(), qPrintable(parent->objectName()));
    }
    return found.front();
}

inline void ProcessEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// WaitUntil with the GUI thread's events handled between the polls.
inline bool WaitWithEvents(const std::function<bool()>& done, int seconds) {
    return WaitUntil(done, seconds, {.between = ProcessEvents});
}

// Lets the windows' timers run for `time`.
inline void RunEventsFor(std::chrono::milliseconds time) {
    WaitUntil([] { return false; }, time, {.between = ProcessEvents});
}

}  // namespace testsupport
