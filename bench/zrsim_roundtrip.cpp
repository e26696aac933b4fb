// zrsim's share of a round trip: a raw ping-pong from the master's end of a veth
// pair (needs root: a private network namespace and raw sockets), answered in
// alternating rounds by zrsim serving one slave and by a bare reflector (a
// program making a blocking receive and a send per frame, its own frames not
// delivered to it).
// The same frame (a broadcast read) goes both ways, so the ratio zrsim/reflector
// shows what zrsim costs beyond the least a program answering frames pays.
// Measured with the processes left where the scheduler puts them, then with
// all of them on one CPU. Figures under the tool's own conditions (idle states
// as the machine has them).
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "wire_bench.hpp"

namespace {

using bench::PrivateNetwork;
constexpr double kGoal = 1.1;
constexpr int kRounds = 15;
constexpr int kBatches = 3;
constexpr int kPerBatch = 700;

// Sends every frame from the master's end straight back, marked as a slave
// marks it: the two system calls per frame any answering program needs. A
// program of its own, as zrsim is (a switch between processes costs more than
// one between threads), at zrsim's priority.
class Reflector {
  public:
    Reflector() {
        const int fd = bench::rawSocket(PrivateNetwork::kSimIf);
        const int one = 1;
        if (fd < 0 || ::setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one) != 0) {
            if (fd >= 0) ::close(fd);
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::setpriority(PRIO_PROCESS, 0, -10);
            reflect(fd);
        }
        ::close(fd);  // the reflector's now
    }
    ~Reflector() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    bool ok() const { return pid_ > 0; }

  private:
    [[noreturn]] static void reflect(int fd) {
        uint8_t buf[2048];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 6 || (buf[6] & ecat::kSlaveMacBit) != 0) continue;
            buf[6] |= ecat::kSlaveMacBit;
            ::send(fd, buf, static_cast<size_t>(n), 0);
        }
    }
    pid_t pid_ = -1;
};

// Median per-round times of the raw ping-pong against either answerer, and of
// the per-round ratios zrsim/reflector.
struct Figures {
    double reflector = -1;
    double zrsim = -1;
    double ratio = -1;
};

// One round's ping-pong time against whatever answers now; -1 on failure.
double pingPong(int& failures) {
    bench::RawPingPong ping(bench::RawWait::Blocking);
    if (!ping.ok()) return -1;
    bench::medianMicros(ping, 1, kPerBatch / 4, &failures);  // warm up
    return bench::medianMicros(ping, kBatches, kPerBatch, &failures);
}

Figures measure(int& failures) {
    std::vector<double> reflector, zrsim, ratios;
    for (int round = 0; round < kRounds; ++round) {
        double r = -1;
        {
            Reflector answerer;
            if (!answerer.ok()) return {};
            r = pingPong(failures);
        }
        double z = -1;
        {
            testsupport::Zrsim sim("CPL", 0);
            std::string error;
            if (!sim.start(&error)) {
                std::printf("zrsim_roundtrip: zrsim did not start: %s\n", error.c_str());
                return {};
            }
            z = pingPong(failures);
        }
        if (r <= 0 || z <= 0) return {};
        reflector.push_back(r);
        zrsim.push_back(z);
        ratios.push_back(z / r);
    }
    return {bench::median(reflector), bench::median(zrsim), bench::median(ratios)};
}

void report(const char* where, const Figures& f) {
    std::printf("%-26s zrsim %7.2f us  reflector %7.2f us  ratio %5.3f (goal <= %.1f) %s\n", where,
                f.zrsim, f.reflector, f.ratio, kGoal, bench::verdict(f.ratio <= kGoal));
}

}  // namespace

int main() {
    if (!bench::EnterZrsimTier("zrsim_roundtrip")) return 0;
    int failures = 0;
    const Figures spread = measure(failures);
    if (spread.ratio < 0) return 1;
    // zrsim and the reflector are started by this thread, which makes the
    // ping-pong too: all inherit the one CPU.
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    if (::sched_setaffinity(0, sizeof one, &one) != 0) return 1;
    const Figures pinned = measure(failures);
    if (pinned.ratio < 0) return 1;
    std::printf("raw ping-pong round trip, %d alternating rounds of %d:\n", kRounds,
                kBatches * kPerBatch);
    report("where the scheduler puts", spread);
    report("all on one CPU", pinned);
    if (failures > 0) std::printf("round trips without an answer: %d\n", failures);
    return 0;
}
