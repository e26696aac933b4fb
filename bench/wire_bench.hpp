// What the benchmarks on the wire tier's veth pair share (the namespace and the
// pair are testsupport::PrivateNetwork's): raw sockets, a frame echo on the far
// end, raw ping-pongs in three ways of waiting to compare with, zrsim's path,
// medians, and an operation of the master against the fastest raw ping-pong in
// alternating rounds.
//
// Figures are taken as the tool runs: the CPUs keep their idle states (the tool
// never holds them off), so a round trip between two CPUs includes a wake-up.
// LowLatency holds them off for a figure printed beside, labelled as such.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "ecmaster/codec.hpp"
#include "ecsim/segment.hpp"
#include "ethercat.h"
#include "support/netns.hpp"

namespace bench {

using testsupport::PrivateNetwork;

// zrsim from the build folder beside this program, unless $ZRSIM names one.
inline void UseZrsimBesideThisProgram() {
    if (std::getenv("ZRSIM") != nullptr) return;
    char self[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return;
    std::string dir(self, static_cast<size_t>(n));
    dir.erase(dir.find_last_of('/'));
    ::setenv("ZRSIM", (dir + "/../ecsim/zrsim").c_str(), 0);
}

// Enters the private network with its veth pair for the benchmark `program`:
// false, after saying why it is skipped, when this machine cannot.
inline bool EnterPrivateNetwork(const char* program) {
    if (PrivateNetwork::enter()) return true;
    std::printf("%s: skipped, %s\n", program, PrivateNetwork::reason().c_str());
    return false;
}

// As EnterPrivateNetwork(), with zrsim to serve the segment there.
inline bool EnterZrsimTier(const char* program) {
    UseZrsimBesideThisProgram();
    if (!EnterPrivateNetwork(program)) return false;
    if (const std::string problem = testsupport::wireTierProblem(); !problem.empty()) {
        std::printf("%s: skipped, %s\n", program, problem.c_str());
        return false;
    }
    return true;
}

// A raw socket bound to EtherType 0x88A4 on `ifname`; -1 on failure. With
// `ownFramesToo` false it is not handed the frames it sends itself (where the
// kernel can do that; receiveIncoming() skips them all the same).
inline int rawSocket(const char* ifname, bool ownFramesToo = true) {
    const int fd = ::socket(PF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ecat::kEtherType));
    if (fd < 0) return -1;
    if (!ownFramesToo) {
        const int one = 1;
        ::setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
    }
    sockaddr_ll sll{};
    sll.sll_family = AF_PACKET;
    sll.sll_protocol = htons(ecat::kEtherType);
    sll.sll_ifindex = static_cast<int>(::if_nametoindex(ifname));
    if (sll.sll_ifindex == 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sll), sizeof sll) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Receives one incoming frame (not our own outgoing copy); 0 on timeout.
inline ssize_t receiveIncoming(int fd, uint8_t* buf, size_t size, int timeoutMs) {
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return 0;
        sockaddr_ll from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(fd, buf, size, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n <= 0) return 0;
        if (from.sll_pkttype == PACKET_OUTGOING) continue;
        return n;
    }
}

// The far end of the pair: sends every master frame straight back, marked as a
// slave marks it (a mirror), or lets a simulated segment process it first.
class Echo {
  public:
    explicit Echo(std::shared_ptr<ecsim::Segment> segment = nullptr)
        : segment_(std::move(segment)),
          useSegment_(segment_ != nullptr),
          fd_(rawSocket(PrivateNetwork::kSimIf)) {
        if (fd_ >= 0) thread_ = std::thread([this] { loop(); });
    }
    ~Echo() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    // Between rounds: the mirror answers, or the segment if there is one.
    void mirror(bool on) { useSegment_ = !on && segment_ != nullptr; }
    // Mean time the segment took per frame since the last reset (sampled): the simulated
    // slaves' share of a round trip, which a real line spends in its hardware.
    void resetSegmentTime() {
        segmentNs_ = 0;
        segmentFrames_ = 0;
    }
    double segmentMicrosPerFrame() const {
        const long frames = segmentFrames_;
        return frames > 0 ? static_cast<double>(segmentNs_) / 1000.0 / frames : 0.0;
    }

  private:
    void loop() {
        std::vector<uint8_t> buf(2048);
        while (!stop_) {
            const ssize_t n = receiveIncoming(fd_, buf.data(), buf.size(), 50);
            if (n <= 0 || (buf[6] & ecat::kSlaveMacBit) != 0) continue;
            std::span<uint8_t> frame(buf.data(), static_cast<size_t>(n));
            if (useSegment_) {
                // One frame in eight is timed: reading the clock costs a
                // fraction of what is measured, and would add to every frame.
                const bool timed = (sampled_++ % 8) == 0;
                const auto start = timed ? std::chrono::steady_clock::now()
                                         : std::chrono::steady_clock::time_point{};
                const bool lost = segment_->process(frame).lost;
                if (timed) {
                    segmentNs_ += std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      std::chrono::steady_clock::now() - start)
                                      .count();
                    ++segmentFrames_;
                }
                if (lost) continue;
            } else {
                frame[6] |= ecat::kSlaveMacBit;
            }
            ::send(fd_, frame.data(), frame.size(), 0);
        }
    }
    std::shared_ptr<ecsim::Segment> segment_;
    std::atomic<bool> useSegment_;
    std::atomic<long> segmentNs_{0};
    std::atomic<long> segmentFrames_{0};
    unsigned sampled_ = 0;  // the echo thread's own
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// How a raw ping-pong waits for the answer: blocked in recv, in poll and then
// recv, or calling a non-blocking recv until it comes (keeping its CPU busy).
enum class RawWait { Blocking, Poll, Busy };
inline constexpr std::array<RawWait, 3> kRawWaits{RawWait::Blocking, RawWait::Poll, RawWait::Busy};
inline const char* rawWaitName(RawWait w) {
    switch (w) {
        case RawWait::Blocking:
            return "blocking recv";
        case RawWait::Poll:
            return "poll + recv";
        case RawWait::Busy:
            return "busy non-blocking recv";
    }
    return "";
}

// The frame the raw ping-pongs send unless given another: one BRD of 2 bytes.
inline std::vector<uint8_t> oneDatagramFrame() {
    ecat::FrameBuilder b;
    b.add(ecat::Cmd::BRD, 0, 0, 0, 2);
    const auto f = b.finish();
    return {f.begin(), f.end()};
}

// Sends `frame` from the master's end and waits, as `wait` says, for it to come
// back marked by a slave (or the mirror). A raw program's best: the socket is
// not handed its own frames.
class RawPingPong {
  public:
    explicit RawPingPong(RawWait wait, std::vector<uint8_t> frame = oneDatagramFrame())
        : wait_(wait), fd_(rawSocket(PrivateNetwork::kMasterIf, false)), frame_(std::move(frame)) {
        if (fd_ < 0) return;
        if (wait_ == RawWait::Blocking) {
            const timeval limit{0, 100000};
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        } else if (wait_ == RawWait::Busy) {
            ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
        }
    }
    ~RawPingPong() {
        if (fd_ >= 0) ::close(fd_);
    }
    RawPingPong(const RawPingPong&) = delete;
    RawPingPong& operator=(const RawPingPong&) = delete;
    bool ok() const { return fd_ >= 0; }
    bool operator()() {
        if (::send(fd_, frame_.data(), frame_.size(), 0) != static_cast<ssize_t>(frame_.size())) {
            return false;
        }
        for (;;) {
            const ssize_t n = receive();
            if (n <= 0) return false;
            if ((in_[6] & ecat::kSlaveMacBit) != 0) return true;
        }
    }

  private:
    // One incoming frame; 0 after 100 ms without one.
    ssize_t receive() {
        if (wait_ == RawWait::Poll) return receiveIncoming(fd_, in_.data(), in_.size(), 100);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        for (unsigned spins = 0;; ++spins) {
            sockaddr_ll from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(fd_, in_.data(), in_.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &len);
            if (n > 0 && from.sll_pkttype != PACKET_OUTGOING) return n;
            if (n > 0) continue;
            if (wait_ == RawWait::Blocking || errno != EAGAIN) return 0;
            // The clock is read now and then: it would cost more than a spin.
            if (spins % 256 == 255 && std::chrono::steady_clock::now() >= deadline) return 0;
        }
    }

    RawWait wait_;
    int fd_ = -1;
    std::vector<uint8_t> frame_;
    std::vector<uint8_t> in_ = std::vector<uint8_t>(2048);
};

inline double median(std::vector<double> values) {
    if (values.empty()) return -1.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Median over `batches` of the mean time per call in a batch. A failed call
// gives -1, unless `failures` is given: then it is counted and timing goes on.
template <class F>
double medianMicros(F&& call, int batches, int perBatch, int* failures = nullptr) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> per;
    for (int b = 0; b < batches; ++b) {
        const auto t0 = Clock::now();
        for (int i = 0; i < perBatch; ++i) {
            if (call()) continue;
            if (failures == nullptr) return -1.0;
            ++*failures;
        }
        per.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count() /
                      perBatch);
    }
    return median(per);
}

// Keeps the CPUs out of deep idle states while it lives (a PM QoS request, held
// while the descriptor is open). The tool never does this: a figure taken
// under it leaves out the wake-ups the tool pays, and is labelled so.
class LowLatency {
  public:
    LowLatency() : fd_(::open("/dev/cpu_dma_latency", O_WRONLY | O_CLOEXEC)) {
        const int32_t zero = 0;
        if (fd_ >= 0 && ::write(fd_, &zero, sizeof zero) != sizeof zero) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~LowLatency() {
        if (fd_ >= 0) ::close(fd_);
    }
    LowLatency(const LowLatency&) = delete;
    LowLatency& operator=(const LowLatency&) = delete;

  private:
    int fd_;
};

// Where this process may run, for the figures' heading: "pinned to CPU n"
// (with the simulated slaves or zrsim started from it: `taskset -c n`), or
// "on n CPUs".
inline std::string cpuPlacement() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0) return "on unknown CPUs";
    const int count = CPU_COUNT(&set);
    if (count != 1) return "on " + std::to_string(count) + " CPUs";
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &set)) return "pinned to CPU " + std::to_string(cpu);
    }
    return "pinned";
}

// Medians over the rounds: each raw way of waiting, the operation, and the
// per-round ratio of the operation to the fastest raw way in that round.
struct Comparison {
    std::array<double, kRawWaits.size()> raws{-1, -1, -1};
    double op = -1;
    double ratio = -1;
    bool ok() const { return op > 0 && raw() > 0; }
    // The fastest raw way's median, and which way that is.
    double raw() const { return *std::min_element(raws.begin(), raws.end()); }
    RawWait fastest() const {
        return kRawWaits[static_cast<size_t>(std::min_element(raws.begin(), raws.end()) -
                                             raws.begin())];
    }
};

struct Rounds {
    int rounds = 9;
    int batches = 3;
    int rawPerBatch = 500;
    int opPerBatch = 500;
};

// An operation of the master against raw ping-pongs in alternating rounds, so
// that load changes on the machine hit all alike. Each round: every raw way of
// waiting in turn (their order rotating from round to round) on a raw socket of
// the master's end, then (those sockets closed, as an open one would queue the
// master's frames) the master opens the end and `op` runs against the echo's
// segment, or the mirror when it has none. The raw ping-pongs send `rawFrame`
// when given one (a frame of the operation's own shape), answered by the
// segment as the master's frames are; else a one-datagram frame the mirror
// answers. The master's configuration stays between rounds. Failed calls are
// counted in `failures` and timed all the same.
template <class Op>
Comparison compareWithRaw(Echo& echo, Op&& op, const Rounds& r, int& failures,
                          const std::vector<uint8_t>& rawFrame = {}) {
    std::array<std::vector<double>, kRawWaits.size()> raws;
    std::vector<double> ops, ratios;
    for (int round = 0; round < r.rounds; ++round) {
        echo.mirror(rawFrame.empty());
        double fastest = -1;
        for (size_t k = 0; k < kRawWaits.size(); ++k) {
            const size_t w = (k + static_cast<size_t>(round)) % kRawWaits.size();
            RawPingPong ping(kRawWaits[w], rawFrame.empty() ? oneDatagramFrame() : rawFrame);
            if (!ping.ok()) return {};
            medianMicros(ping, 1, r.rawPerBatch / 4 + 1, &failures);  // warm up
            const double raw = medianMicros(ping, r.batches, r.rawPerBatch, &failures);
            if (raw <= 0) return {};
            raws[w].push_back(raw);
            if (fastest < 0 || raw < fastest) fastest = raw;
        }
        echo.mirror(false);
        if (ec_init(PrivateNetwork::kMasterIf) <= 0) return {};
        medianMicros(op, 1, r.opPerBatch / 4 + 1, &failures);
        const double t = medianMicros(op, r.batches, r.opPerBatch, &failures);
        ec_close();
        if (t <= 0) return {};
        ops.push_back(t);
        ratios.push_back(t / fastest);
    }
    Comparison c;
    for (size_t w = 0; w < raws.size(); ++w) c.raws[w] = median(raws[w]);
    c.op = median(ops);
    c.ratio = median(ratios);
    return c;
}

// The raw ways' medians on one line, the fastest marked.
inline std::string rawFigures(const Comparison& c) {
    std::string out;
    for (size_t w = 0; w < kRawWaits.size(); ++w) {
        char part[96];
        std::snprintf(part, sizeof part, "%s%s %.2f us%s", w == 0 ? "" : ", ",
                      rawWaitName(kRawWaits[w]), c.raws[w],
                      kRawWaits[w] == c.fastest() ? " (fastest)" : "");
        out += part;
    }
    return out;
}

inline const char* verdict(bool met) {
    return met ? "OK" : "ABOVE GOAL";
}

}  // namespace bench
