// The window's busy cursor: Qt's override cursor while a long pause of the GUI
// thread runs, gone once its event loop runs again.
#include "bus/gui/busy_cursor.hpp"

#include <gtest/gtest.h>

#include <QCursor>
#include <QGuiApplication>
#include <QTimer>

#include "bus/bus_stop.hpp"
#include "bus/busy_wait.hpp"
#include "support/qt_helpers.hpp"

namespace {

// Records, for every pause, whether the busy cursor showed while it ran.
class CursorClock final : public ProcedureClock {
  public:
    CursorClock() : replaced_(SetProcedureClock(this)) {}
    ~CursorClock() override { SetProcedureClock(replaced_); }
    void Pause(int) override {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        shownDuring.push_back(cursor != nullptr && cursor->shape() == Qt::WaitCursor);
    }
    Clock::time_point Now() override { return {}; }
    std::vector<bool> shownDuring;

  private:
    ProcedureClock* replaced_;
};

TEST(BusyCursor, ShowsDuringTheLongPausesOfAHandlerAndGoesWithTheEventLoop) {
    CursorClock clock;
    InstallBusyCursor();
    bool handled = false;
    // A handler of the window, as a page's timer runs one: 2.6 s of pauses.
    QTimer::singleShot(0, [&] {
        PauseMs(200);
        for (int i = 0; i < 120; ++i) PauseMs(20);
        handled = true;
    });
    ASSERT_TRUE(testsupport::WaitWithEvents([&] { return handled; }, 10));
    ASSERT_EQ(clock.shownDuring.size(), 121u);
    EXPECT_FALSE(clock.shownDuring[0]);
    EXPECT_FALSE(clock.shownDuring[5]) << "300 ms are not yet past the limit";
    EXPECT_TRUE(clock.shownDuring[6]);
    EXPECT_TRUE(clock.shownDuring[120]);
    EXPECT_TRUE(
        testsupport::WaitWithEvents([] { return QGuiApplication::overrideCursor() == nullptr; }, 5))
        << "the cursor stayed busy after the handler";
    WatchWaits(nullptr);
}

}  // namespace
