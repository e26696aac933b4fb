#include "bus/busy_wait.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

// How often a device wait asks whether to give up.
constexpr Ms kGiveUpCheck(5);

// What the watched thread has waited since its event loop last ran.
struct Watch {
    BusyCursor* cursor = nullptr;
    double waitedMs = 0;
    bool shown = false;

    void show() {
        if (shown) return;
        shown = true;
        cursor->Show();
    }
};
thread_local Watch watch;

// Helper threads that run the watched thread's device accesses. A wait given up
// leaves its access running to its own timeout: the next access then gets a
// thread of its own instead of queueing behind it.
class AccessRunners {
  public:
    struct Job {
        std::function<void()> access;
        bool done = false;
    };

    ~AccessRunners() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& thread : threads_) thread.join();
    }

    std::shared_ptr<Job> submit(std::function<void()> access) {
        auto job = std::make_shared<Job>();
        job->access = std::move(access);
        std::lock_guard lock(mutex_);
        queue_.push_back(job);
        if (idle_ > queue_.size() - 1) {
            wake_.notify_one();
        } else {
            threads_.emplace_back([this] { run(); });
        }
        return job;
    }

    // True once `job` is done; false when `wait` passed first.
    bool waitFor(const std::shared_ptr<Job>& job, Ms wait) {
        std::unique_lock lock(mutex_);
        return finished_.wait_for(lock, wait, [&] { return job->done; });
    }

  private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            --idle_;
            if (queue_.empty()) return;
            const std::shared_ptr<Job> job = queue_.front();
            queue_.pop_front();
            lock.unlock();
            job->access();
            lock.lock();
            job->done = true;
            finished_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::deque<std::shared_ptr<Job>> queue_;
    std::vector<std::thread> threads_;
    size_t idle_ = 0;
    bool stop_ = false;
};

AccessRunners& Runners() {
    static AccessRunners runners;
    return runners;
}

}  // namespace

void WatchWaits(BusyCursor* cursor) {
    WaitsEnded();
    watch = Watch{cursor, 0, false};
}

void WaitsEnded() {
    watch.waitedMs = 0;
    if (watch.shown) {
        watch.shown = false;
        watch.cursor->Hide();
    }
}

void WaitFixed(int ms, const std::function<void()>& pause) {
    if (watch.cursor == nullptr) return pause();
    if (watch.waitedMs + ms > kBusyAfterMs) watch.show();
    pause();
    watch.waitedMs += ms;
}

bool WaitForDevice(std::function<void()> access, const std::function<bool()>& giveUp) {
    if (watch.cursor == nullptr) {
        access();
        return true;
    }
    const Clock::time_point start = Clock::now();
    const std::shared_ptr<AccessRunners::Job> job = Runners().submit(std::move(access));
    bool done = false;
    for (;;) {
        const double waited = watch.waitedMs + Ms(Clock::now() - start).count();
        if (waited > kBusyAfterMs) watch.show();
        // Wake to show the cursor when the limit passes, and to ask about giving up.
        Ms slice = giveUp ? kGiveUpCheck : Ms(std::chrono::hours(1));
        if (!watch.shown) slice = std::min(slice, Ms(kBusyAfterMs - waited + 1));
        done = Runners().waitFor(job, slice);
        if (done || (giveUp && giveUp())) break;
    }
    watch.waitedMs += Ms(Clock::now() - start).count();
    return done;
}
