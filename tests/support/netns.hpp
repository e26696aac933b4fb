// The wire tier's harness: a private network namespace with a veth pair, zrsim
// serving a simulated segment on one end, the master (or the tool) on the other.
//
// Use: call PrivateNetwork::enter() first thing in main(), before any thread
// exists (namespaces are per thread; threads made later inherit it). The
// namespace belongs to this process alone and vanishes with it, so the veth
// pair and everything on it are gone on every exit path, crash included.
// (A binary that does not call it gets the namespace at its first
// WIRE_TIER_OR_SKIP(), provided the process has no other thread then.)
// In each test, WIRE_TIER_OR_SKIP() skips loudly when the tier cannot run
// (not root, no `ip`, no zrsim), and fails instead when CI=true.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <string>

namespace testsupport {

class PrivateNetwork {
  public:
    static constexpr const char* kMasterIf = "ecm0";  // the master's end
    static constexpr const char* kSimIf = "ecs0";     // zrsim's end

    // Enters a fresh network namespace and brings up the veth pair. Safe to
    // call again (does nothing). False when the tier cannot run; reason() says why.
    static bool enter();
    static bool ready();
    static std::string reason();
    // Brings one end of the pair up or down, as a cable pulled and put back. False on failure.
    static bool setLink(const char* ifname, bool up);
};

// True when CI=true is set in the environment.
bool runningInCi();

// Why the wire tier cannot run here, or "" when it can (namespace up and
// $ZRSIM executable).
std::string wireTierProblem();

// A zrsim process serving `slaves` on PrivateNetwork::kSimIf, with a control
// channel for fault commands. Stopped (SIGTERM, then SIGKILL) by the destructor;
// it also dies with this process (parent-death signal).
class Zrsim {
  public:
    explicit Zrsim(std::string slaves, int watchdogMs = 100);
    ~Zrsim();
    Zrsim(const Zrsim&) = delete;
    Zrsim& operator=(const Zrsim&) = delete;

    // Starts it and waits until its control channel answers. False with `error` set.
    bool start(std::string* error);
    bool running();
    void stop();
    // Sends one control command ("drop 0.5", "power-off 2", ...); returns the
    // answer line ("ok" or "error: ..."), or "" when the channel failed.
    std::string control(const std::string& line);
    // What it printed so far (stdout and stderr).
    std::string output() const;

  private:
    std::string slaves_;
    int watchdogMs_;
    pid_t pid_ = -1;
    std::string controlPath_;
    std::string logPath_;
};

// Opens the master on `iface` (ec_init) and waits until a broadcast read counts
// `count` slaves. Leaves the master open. False on timeout.
bool waitForSlaves(const char* iface, int count, std::chrono::milliseconds timeout);

}  // namespace testsupport

// Skips the current test, loudly, when the wire tier cannot run; under CI=true
// that is a test failure instead.
#define WIRE_TIER_OR_SKIP()                                                                    \
    do {                                                                                       \
        const std::string wireProblem_ = ::testsupport::wireTierProblem();                     \
        if (!wireProblem_.empty()) {                                                           \
            if (::testsupport::runningInCi()) {                                                \
                FAIL() << "wire tier cannot run in CI: " << wireProblem_;                      \
            }                                                                                  \
            std::fprintf(stderr, "\n*** WIRE TIER SKIPPED: %s ***\n\n", wireProblem_.c_str()); \
            GTEST_SKIP() << "wire tier cannot run: " << wireProblem_;                          \
        }                                                                                      \
    } while (0)
