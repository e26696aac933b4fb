// The busy cursor's rule: once the watched thread's pauses and device waits
// since its event loop last ran pass 300 ms, the cursor shows, until the loop
// runs again; waits of other threads show nothing.
#include "bus/busy_wait.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "bus/bus_stop.hpp"
#include "bus/bus_threads.hpp"
#include "bus/globals.hpp"
#include "bus/sdo_text.hpp"
#include "ethercat.h"
#include "support/all_layers.hpp"
#include "support/recording_clock.hpp"
#include "support/virtual_bus.hpp"
#include "support/wait_until.hpp"

namespace {

class CountingCursor final : public BusyCursor {
  public:
    void Show() override {
        ++shows;
        on = true;
        if (onShow) onShow();
    }
    void Hide() override {
        ++hides;
        on = false;
    }
    int shows = 0;
    int hides = 0;
    bool on = false;
    std::function<void()> onShow;
};

// Watches the test's thread for its scope.
struct Watched {
    Watched() { WatchWaits(&cursor); }
    ~Watched() { WatchWaits(nullptr); }
    CountingCursor cursor;
};

// Records, for every pause, whether the cursor showed while it ran.
class CursorClock final : public ProcedureClock {
  public:
    explicit CursorClock(const CountingCursor& cursor)
        : cursor_(cursor), replaced_(SetProcedureClock(this)) {}
    ~CursorClock() override { SetProcedureClock(replaced_); }
    void Pause(int) override { shownDuring.push_back(cursor_.on); }
    Clock::time_point Now() override { return {}; }
    std::vector<bool> shownDuring;

  private:
    const CountingCursor& cursor_;
    ProcedureClock* replaced_;
};

TEST(BusyWait, PausesPastTheLimitShowTheCursorUntilTheLoopRunsAgain) {
    Watched watched;
    CursorClock clock(watched.cursor);
    for (int i = 0; i < 15; ++i) PauseMs(20);  // 300 ms: not past the limit
    PauseMs(20);
    PauseMs(20);
    EXPECT_EQ(clock.shownDuring,
              std::vector<bool>({false, false, false, false, false, false, false, false, false,
                                 false, false, false, false, false, false, true, true}));
    EXPECT_EQ(watched.cursor.shows, 1);
    WaitsEnded();
    EXPECT_EQ(watched.cursor.hides, 1);
    EXPECT_FALSE(watched.cursor.on);

    // The waits add up afresh; one long pause shows before it begins.
    clock.shownDuring.clear();
    PauseMs(300);
    PauseMs(3000);
    EXPECT_EQ(clock.shownDuring, std::vector<bool>({false, true}));
    WaitsEnded();

    // Another thread's pauses are no wait of the window.
    testsupport::RecordingClock otherClock;
    std::thread([] { PauseMs(3000); }).join();
    EXPECT_EQ(otherClock.pauses, std::vector<int>{3000});
    EXPECT_EQ(watched.cursor.shows, 2);
}

// A ZR12 and a ZR02 opened by the master, the test's thread watched.
class BusyWaitOnBus : public ::testing::Test {
  protected:
    void SetUp() override {
        StopBusThreads();
        testsupport::ResetAllLayers();
        ASSERT_GT(ec_init(bus_.name().c_str()), 0);
        ASSERT_GT(ec_config_init(FALSE), 0);
        WatchWaits(&cursor_);
    }
    void TearDown() override {
        WatchWaits(nullptr);
        testsupport::ResetAllLayers();
    }
    uint64_t frames() { return bus_.segment().framesProcessed(); }

    testsupport::VirtualBus bus_{"ZR12,ZR02"};
    CountingCursor cursor_;
};

// A device access of unknown length shows the cursor in its middle once it
// passes the limit, and not at all when it is quick. The window does not wait
// out the timeout of a slave that the supervision finds lost in the meantime:
// its read ends as a timeout while the access itself, left to a helper, still
// polls the silent slave.
TEST_F(BusyWaitOnBus, ALongDeviceWaitShowsTheCursorAndEndsOnceItsSlaveIsFoundLost) {
    EXPECT_EQ(SdoReadAsText(1, 0x1008, 0, kCoeVisibleString), "Torvanelix ZR12");
    EXPECT_EQ(cursor_.shows, 0);

    bus_.segment().powerOff(2);  // silent, and not known lost: a whole timeout
    cursor_.onShow = [] { SetSlaveLost(2, true); };
    const SdoText read = SdoReadText(2, 0x1008, 0, kCoeVisibleString);
    const uint64_t atReturn = frames();
    EXPECT_FALSE(read.uploaded);
    EXPECT_EQ(read.text, "");
    EXPECT_EQ(cursor_.shows, 1);
    EXPECT_TRUE(cursor_.on);
    WaitsEnded();
    EXPECT_FALSE(cursor_.on);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return frames() > atReturn; }, 10,
                                       {.pause = std::chrono::milliseconds(1)}))
        << "the read waited for the access to end";
    // The bus goes only after that access: a read of the slave waits for its
    // mailbox, which the access holds until its timeout (the read's own is short).
    uint8_t data[8] = {};
    int size = sizeof data;
    ec_SDOread(2, 0x1008, 0, FALSE, &size, data, 1);
}

}  // namespace
