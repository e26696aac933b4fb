#include "bus/gui/busy_cursor.hpp"

#include <QAbstractEventDispatcher>
#include <QCursor>
#include <QGuiApplication>

#include "bus/busy_wait.hpp"

namespace {

class OverrideCursor final : public BusyCursor {
  public:
    void Show() override { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    void Hide() override { QGuiApplication::restoreOverrideCursor(); }
};

}  // namespace

void InstallBusyCursor() {
    static OverrideCursor cursor;
    static QAbstractEventDispatcher* connected = nullptr;
    WatchWaits(&cursor);
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher == nullptr || dispatcher == connected) return;
    // The loop is about to wait for events, or takes them in: the work that
    // blocked it is over.
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [] { WaitsEnded(); });
    QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [] { WaitsEnded(); });
    connected = dispatcher;
}
