// zrsim: serves a simulated EtherCAT segment on a network interface, so that a
// master on the other end of the cable (or veth pair) meets real-looking slaves.
#include <poll.h>
#include <sys/prctl.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
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

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) {
    g_stop = 1;
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

void serveFrame(ecsim::Segment& segment, zrsim::RawSocket& socket, std::span<uint8_t> frame,
                DelayedFrames& delayed) {
    // A frame a slave already marked is on its way back to a master, not ours.
    if (frame.size() <= 6 || (frame[6] & ecat::kSlaveMacBit) != 0) return;
    const auto delivery = segment.process(frame);
    if (delivery.lost) return;
    if (delivery.delay.count() > 0) {
        delayed.emplace(Clock::now() + delivery.delay,
                        std::vector<uint8_t>(frame.begin(), frame.end()));
    } else {
        socket.send(frame);
    }
}

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

    DelayedFrames delayed;
    std::vector<uint8_t> buffer(ecat::kMaxFrameSize + 4);
    auto nextTick = Clock::now() + kTickInterval;
    while (!g_stop) {
        std::vector<pollfd> fds{{socket.fd(), POLLIN, 0}};
        if (control) control->addPollDescriptors(fds);
        auto wakeAt = nextTick;
        if (!delayed.empty() && delayed.begin()->first < wakeAt) wakeAt = delayed.begin()->first;
        // To the nanosecond, not poll's whole milliseconds: delays are tens of microseconds.
        const auto wait = std::max<int64_t>(
            0, std::chrono::duration_cast<std::chrono::nanoseconds>(wakeAt - Clock::now()).count());
        const timespec timeout{static_cast<time_t>(wait / 1'000'000'000),
                               static_cast<long>(wait % 1'000'000'000)};
        const int ready = ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
        if (ready < 0 && errno != EINTR) throw std::runtime_error("poll failed");
        if (ready > 0 && fds[0].revents != 0) {
            // Drain what arrived, so a burst does not wait a poll round per frame.
            while (const size_t n = socket.receive(buffer)) {
                serveFrame(segment, socket, std::span(buffer).first(n), delayed);
            }
        }
        if (control && ready > 0) control->handle(fds);
        const auto now = Clock::now();
        while (!delayed.empty() && delayed.begin()->first <= now) {
            socket.send(delayed.begin()->second);
            delayed.erase(delayed.begin());
        }
        if (now >= nextTick) {
            segment.tick();
            nextTick = now + kTickInterval;
        }
    }
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
    // The kernel may otherwise end a sleep up to 50 us late, as long as the
    // shortest delays themselves.
    ::prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
    try {
        return run(*options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zrsim: %s\n", e.what());
        return 1;
    }
}
