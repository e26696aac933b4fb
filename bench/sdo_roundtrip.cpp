// SDO expedited upload and one process-data cycle through the master against
// zrsim on a veth pair, each divided by a raw frame ping-pong on the same pair
// (needs root: a private network namespace and raw sockets).
//
// An expedited upload takes at least five round trips (flush poll, SM0 check,
// request write, SM1 poll, reply read), so sdo/raw near 5 means the mailbox
// code adds little beyond the frames it must send; an LRW cycle is one frame.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <string>
#include <thread>

#include "ethercat.h"
#include "veth_pair.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kSlaves = "ZR12,IO,ZR02";
constexpr int kSlaveCount = 3;

std::string zrsimPath() {
    if (const char* env = std::getenv("ZRSIM")) return env;
    char self[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "zrsim";
    std::string dir(self, static_cast<size_t>(n));
    dir.erase(dir.find_last_of('/'));
    return dir + "/../ecsim/zrsim";
}

// zrsim serving the segment on the far end; stopped with the object, and
// killed with this process whatever happens.
class ZrsimProcess {
  public:
    explicit ZrsimProcess(const std::string& exe) {
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) ::_exit(1);
            const int quiet = ::open("/dev/null", O_WRONLY);
            ::dup2(quiet, 1);
            ::dup2(quiet, 2);
            ::execl(exe.c_str(), exe.c_str(), "--iface", bench::kSimIf, "--slaves", kSlaves,
                    "--watchdog", "0", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~ZrsimProcess() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    bool started() const { return pid_ > 0; }

  private:
    pid_t pid_ = -1;
};

bool waitForSlaves(std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        uint16_t w = 0;
        if (ec_BRD(0, ECT_REG_TYPE, 2, &w, EC_TIMEOUTRET) == kSlaveCount) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

int fail(const char* what) {
    std::printf("sdo_roundtrip: %s\n", what);
    ec_close();
    return 1;
}

}  // namespace

int main() {
    if (const std::string problem = bench::enterVethNamespace(); !problem.empty()) {
        std::printf("sdo_roundtrip: %s; skipped\n", problem.c_str());
        return 0;
    }
    constexpr int kBatches = 9;

    double raw = -1;
    {
        bench::Echo echo;
        bench::RawPingPong ping;
        if (!echo.ok() || !ping.ok()) {
            std::printf("sdo_roundtrip: raw sockets unavailable; skipped\n");
            return 0;
        }
        bench::medianMicros(ping, 1, 500);  // warm up
        raw = bench::medianMicros(ping, kBatches, 2000);
    }
    if (raw <= 0) {
        std::printf("sdo_roundtrip: the raw ping-pong failed\n");
        return 1;
    }

    ZrsimProcess zrsim(zrsimPath());
    if (!zrsim.started()) return fail("cannot start zrsim");
    if (ec_init(bench::kMasterIf) <= 0) return fail("ec_init failed");
    if (!waitForSlaves(std::chrono::seconds(10))) return fail("zrsim did not come up");
    static uint8_t iomap[4096];
    if (ec_config_init(FALSE) != kSlaveCount) return fail("ec_config_init failed");
    if (ec_config_map(iomap) <= 0) return fail("ec_config_map failed");
    ec_configdc();
    if (ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE) != EC_STATE_SAFE_OP) {
        return fail("the slaves did not reach SAFE-OP");
    }
    const int expected = 2 * ec_group[0].outputsWKC + ec_group[0].inputsWKC;

    auto sdo = [] {
        uint32_t vendor = 0;
        int size = sizeof vendor;
        return ec_SDOread(1, 0x1018, 1, FALSE, &size, &vendor, EC_TIMEOUTRXM) == 1;
    };
    auto cycle = [expected] {
        ec_send_processdata();
        return ec_receive_processdata(EC_TIMEOUTRET) == expected;
    };
    bench::medianMicros(sdo, 1, 100);
    bench::medianMicros(cycle, 1, 500);
    const double sdoUs = bench::medianMicros(sdo, kBatches, 300);
    const double cycleUs = bench::medianMicros(cycle, kBatches, 2000);
    ec_close();
    if (sdoUs <= 0 || cycleUs <= 0) {
        std::printf("sdo_roundtrip: a transfer failed (sdo %.2f us, cycle %.2f us)\n", sdoUs,
                    cycleUs);
        return 1;
    }
    std::printf("raw frame ping-pong on veth:          %9.2f us\n", raw);
    std::printf("SDO expedited upload (0x1018:01):     %9.2f us   sdo/raw   %7.2f\n", sdoUs,
                sdoUs / raw);
    std::printf("process-data cycle (LRW + DC time):   %9.2f us   cycle/raw %7.2f\n", cycleUs,
                cycleUs / raw);
    return 0;
}
