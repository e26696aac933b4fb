// zrsim: serves a simulated EtherCAT segment on a network interface, so that a
// master on the other end of the cable (or veth pair) meets real-looking slaves.
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "control_server.hpp"
#include "ecmaster/codec.hpp"
#include "ecsim/control_command.hpp"
#include "ecsim/firmware_loader.hpp"
#include "ecsim/segment.hpp"
#include "ecsim/slave.hpp"
#include "options.hpp"
#include "raw_socket.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTickInterval = std::chrono::milliseconds(5);

// Set by the signal handler, read by both threads.
std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
void onSignal(int) {
    g_stop = true;
}

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Frames the segment returns late, by the time they are due.
using DelayedFrames = std::multimap<Clock::time_point, std::vector<uint8_t>>;

// A timer on the monotonic clock (steady_clock's), readable once it has fired.
class Timer {
  public:
    Timer() : fd_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
        if (fd_ < 0) throw std::runtime_error("cannot make a timer");
    }
    ~Timer() { ::close(fd_); }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    int fd() const { return fd_; }
    // Fires at `at` and then every `interval` (zero: once); a zero `at` disarms it.
    void set(Clock::time_point at, std::chrono::nanoseconds interval = {}) {
        itimerspec spec{};
        spec.it_value = timespecOf(at.time_since_epoch());
        spec.it_interval = timespecOf(interval);
        if (at == Clock::time_point{}) spec = {};
        ::timerfd_settime(fd_, TFD_TIMER_ABSTIME, &spec, nullptr);
    }
    // Takes the expiry note, so that the timer is not readable until it fires again.
    void acknowledge() {
        uint64_t expirations = 0;
        [[maybe_unused]] const ssize_t n = ::read(fd_, &expirations, sizeof expirations);
    }

  private:
    static timespec timespecOf(std::chrono::nanoseconds d) {
        const int64_t ns = d.count();
        return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    }
    int fd_;
};

// zrsim's two threads. The calling thread receives frames, blocking, and
// answers each at once: a receive and a send per frame, as the least program
// answering frames needs. The other thread serves, through one epoll set, the
// segment's tick on a periodic timer, the delayed frames on a timer of their
// own, and the control channel. SIGINT and SIGTERM go to the receiving thread,
// whose receive they end.
class Server {
  public:
    Server(ecsim::Segment& segment, zrsim::RawSocket& socket, zrsim::ControlServer* control)
        : segment_(segment), socket_(socket), control_(control) {
        if (epoll_ < 0) throw std::runtime_error("cannot make an epoll set");
        watch(tick_.fd());
        watch(delay_.fd());
        if (control_ != nullptr) watch(control_->fd());
    }
    ~Server() { ::close(epoll_); }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    void run() {
        receiver_ = ::pthread_self();
        std::thread timers = startTimerThread();
        std::vector<uint8_t> buffer(ecat::kMaxFrameSize + 4);
        while (!g_stop) {
            if (const size_t n = socket_.receive(buffer)) serve(std::span(buffer).first(n));
        }
        received_ = true;
        timers.join();
    }

  private:
    void watch(int fd) {
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.fd = fd;
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e) != 0) {
            throw std::runtime_error("cannot watch a descriptor");
        }
    }

    std::thread startTimerThread() {
        // The new thread inherits the mask: the signals stay with this one.
        sigset_t stops, before;
        sigemptyset(&stops);
        sigaddset(&stops, SIGINT);
        sigaddset(&stops, SIGTERM);
        ::pthread_sigmask(SIG_BLOCK, &stops, &before);
        tick_.set(Clock::now() + kTickInterval, kTickInterval);
        std::thread timers([this] { serveTimersAndControl(); });
        ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
        return timers;
    }

    void serveTimersAndControl() {
        while (!received_) {
            epoll_event events[3];
            const int n = ::epoll_wait(epoll_, events, 3, -1);
            if (n < 0 && errno != EINTR) throw std::runtime_error("epoll_wait failed");
            for (int i = 0; i < n; ++i) {
                const int fd = events[i].data.fd;
                if (fd == tick_.fd()) {
                    tick_.acknowledge();
                    segment_.tick();
                } else if (fd == delay_.fd()) {
                    delay_.acknowledge();
                    sendDueFrames();
                } else if (control_ != nullptr && fd == control_->fd()) {
                    control_->handle();
                }
            }
            // A stop that came just before the receiver began to wait would not
            // end its wait: it is passed on until the receiver has seen it.
            if (g_stop && !received_) ::pthread_kill(receiver_, SIGTERM);
        }
    }

    void serve(std::span<uint8_t> frame) {
        // A frame a slave already marked is on its way back to a master, not ours.
        if (frame.size() <= 6 || (frame[6] & ecat::kSlaveMacBit) != 0) return;
        const auto delivery = segment_.process(frame);
        if (delivery.lost) return;
        if (delivery.delay.count() <= 0) {
            socket_.send(frame);
            return;
        }
        const auto due = Clock::now() + delivery.delay;
        std::lock_guard lock(delayedMutex_);
        const bool earliest = delayed_.empty() || due < delayed_.begin()->first;
        delayed_.emplace(due, std::vector<uint8_t>(frame.begin(), frame.end()));
        if (earliest) delay_.set(due);
    }

    void sendDueFrames() {
        std::lock_guard lock(delayedMutex_);
        const auto now = Clock::now();
        while (!delayed_.empty() && delayed_.begin()->first <= now) {
            socket_.send(delayed_.begin()->second);
            delayed_.erase(delayed_.begin());
        }
        delay_.set(delayed_.empty() ? Clock::time_point{} : delayed_.begin()->first);
    }

    ecsim::Segment& segment_;
    zrsim::RawSocket& socket_;
    zrsim::ControlServer* control_;
    int epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    Timer tick_;
    Timer delay_;
    std::mutex delayedMutex_;
    DelayedFrames delayed_;  // guarded by delayedMutex_
    pthread_t receiver_{};
    std::atomic<bool> received_{false};  // the receiver has stopped
};

int run(const zrsim::Options& options) {
    ecsim::Segment segment(options.slaves);
    segment.setWatchdog(options.watchdog);
    segment.setStateChangeHook([&segment](size_t position, uint16_t from, uint16_t to) {
        auto& slave = segment.slave(position);
        std::printf("slave %zu (%s): %s -> %s", position,
                    std::string(ecsim::kindName(slave.config().kind)).c_str(),
                    std::string(ecat::al::stateName(from)).c_str(),
                    std::string(ecat::al::stateName(to)).c_str());
        if (slave.alStatus() & ecat::al::ErrorFlag) {
            std::printf(" (error 0x%04X)", slave.alStatusCode());
        }
        std::printf("\n");
    });
    zrsim::RawSocket socket(options.interfaceName);
    std::unique_ptr<zrsim::ControlServer> control;
    if (!options.controlPath.empty()) {
        control = std::make_unique<zrsim::ControlServer>(
            options.controlPath, [&segment](const std::string& line) {
                const std::string answer = ecsim::runControlLine(segment, line);
                std::printf("control: %s -> %s\n", line.c_str(), answer.c_str());
                return answer;
            });
    }
    std::printf("zrsim: %zu slaves on %s\n", segment.slaveCount(), options.interfaceName.c_str());

    Server(segment, socket, control.get()).run();
    std::printf("zrsim: stopped\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = zrsim::parseOptions(args, &error);
    if (!options) {
        std::fprintf(stderr, "zrsim: %s\n%s", error.c_str(), zrsim::kUsage);
        return 2;
    }
    if (options->help) {
        std::fputs(zrsim::kUsage, stdout);
        return 0;
    }
    if (!options->firmwarePath.empty()) {
        std::ofstream file(options->firmwarePath, std::ios::binary | std::ios::trunc);
        file << ecsim::sampleFirmwareImage();
        file.close();
        if (!file) {
            std::fprintf(stderr, "zrsim: cannot write %s\n", options->firmwarePath.c_str());
            return 1;
        }
        return 0;
    }
    installSignalHandlers();
    try {
        return run(*options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zrsim: %s\n", e.what());
        return 1;
    }
}
