#include "platform/message_box.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A stand-in GUI thread: the test thread, running queued tasks.
class TaskQueue {
  public:
    void post(std::function<void()> task) {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        ready_.notify_all();
    }
    bool waitQueued(std::chrono::milliseconds deadline) {
        std::unique_lock lock(mutex_);
        return ready_.wait_for(lock, deadline, [&] { return !tasks_.empty(); });
    }
    // Runs one task; false when none came before the deadline.
    bool runOne(std::chrono::milliseconds deadline) {
        std::unique_lock lock(mutex_);
        if (!ready_.wait_for(lock, deadline, [&] { return !tasks_.empty(); })) return false;
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        return true;
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> tasks_;
};

class MessageBoxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        AllowMessageBoxWaits();
        InstallMessageBoxPresenter(
            [this](const std::wstring& text) {
                shownOn_ = std::this_thread::get_id();
                shown_ = text;
            },
            [this](std::function<void()> task) { queue_.post(std::move(task)); });
    }
    void TearDown() override {
        InstallMessageBoxPresenter({});
        AllowMessageBoxWaits();
    }

    TaskQueue queue_;
    std::thread::id shownOn_;
    std::wstring shown_;
};

TEST_F(MessageBoxTest, ABoxOfAnotherThreadIsShownOnTheGuiThreadWhileItWaits) {
    std::atomic<bool> returned{false};
    std::thread asker([&] {
        ShowMessageBox(L"Lan EtherNet Interface Name??");
        returned = true;
    });
    EXPECT_FALSE(returned);
    ASSERT_TRUE(queue_.runOne(10s));
    asker.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(shown_, L"Lan EtherNet Interface Name??");
    EXPECT_EQ(shownOn_, std::this_thread::get_id());
}

TEST_F(MessageBoxTest, TheGuiThreadShowsItsOwnBoxDirectly) {
    ShowMessageBox(L"Scan Device Please...");
    EXPECT_EQ(shown_, L"Scan Device Please...");
}

TEST_F(MessageBoxTest, CancellingReleasesAWaitingThreadAndTheBoxIsNotShown) {
    std::thread asker([] { ShowMessageBox(L"Error at ConfigDc, Exit Program."); });
    // The box is queued but the GUI thread never gets to it: the exit cancels.
    ASSERT_TRUE(queue_.waitQueued(10s));
    CancelMessageBoxWaits();
    asker.join();
    EXPECT_TRUE(queue_.runOne(10s));
    EXPECT_TRUE(shown_.empty());
    // Later boxes of other threads return at once.
    std::thread late([] { ShowMessageBox(L"late"); });
    late.join();
}

}  // namespace
