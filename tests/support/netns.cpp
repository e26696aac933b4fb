#include "support/netns.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "ethercat.h"
#include "support/wait_until.hpp"

namespace testsupport {
namespace {

struct NetState {
    bool tried = false;
    bool ok = false;
    std::string reason;
};

NetState& net() {
    static NetState s;
    return s;
}

// Runs a program with arguments, waits for it; its output goes to /dev/null.
int runQuiet(const std::vector<std::string>& argv) {
    std::vector<char*> args;  // built before fork: the child only execs
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        if (devnull >= 0) {
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
        }
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool PrivateNetwork::enter() {
    NetState& s = net();
    if (s.tried) return s.ok;
    s.tried = true;
    if (::geteuid() != 0) {
        s.reason = "not root (the wire tier needs a network namespace and raw sockets)";
        return false;
    }
    if (::unshare(CLONE_NEWNET) != 0) {
        s.reason = std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno);
        return false;
    }
    if (runQuiet({"ip", "link", "add", kMasterIf, "type", "veth", "peer", "name", kSimIf}) != 0) {
        s.reason = "cannot create the veth pair (is `ip` from iproute2 installed?)";
        return false;
    }
    for (const char* ifname : {kMasterIf, kSimIf, "lo"}) {
        if (runQuiet({"ip", "link", "set", ifname, "up"}) != 0) {
            s.reason = std::string("cannot bring up ") + ifname;
            return false;
        }
    }
    s.ok = true;
    return true;
}

bool PrivateNetwork::setLink(const char* ifname, bool up) {
    return ready() && runQuiet({"ip", "link", "set", ifname, up ? "up" : "down"}) == 0;
}

bool PrivateNetwork::ready() {
    return net().ok;
}

std::string PrivateNetwork::reason() {
    if (!net().tried) return "PrivateNetwork::enter() was not called before the first thread";
    return net().reason;
}

bool runningInCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

// True when this process has exactly one thread (the caller).
bool singleThreaded() {
    DIR* d = ::opendir("/proc/self/task");
    if (d == nullptr) return false;
    int n = 0;
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.') ++n;
    }
    ::closedir(d);
    return n == 1;
}

std::string wireTierProblem() {
    // A test binary without its own main() gets the namespace here, as long as
    // no other thread exists yet (a thread made earlier would stay outside).
    if (!net().tried && singleThreaded()) PrivateNetwork::enter();
    if (!PrivateNetwork::ready()) return PrivateNetwork::reason();
    const char* zrsim = std::getenv("ZRSIM");
    if (zrsim == nullptr || *zrsim == '\0') return "ZRSIM is not set (run the tests through ctest)";
    if (::access(zrsim, X_OK) != 0) return std::string("zrsim is not built at ") + zrsim;
    return {};
}

Zrsim::Zrsim(std::string slaves, int watchdogMs)
    : slaves_(std::move(slaves)), watchdogMs_(watchdogMs) {}

Zrsim::~Zrsim() {
    stop();
    if (!logPath_.empty()) ::unlink(logPath_.c_str());
}

bool Zrsim::start(std::string* error) {
    const char* exe = std::getenv("ZRSIM");
    if (exe == nullptr) {
        *error = "ZRSIM is not set";
        return false;
    }
    char logTemplate[] = "/tmp/zrsim-log-XXXXXX";
    const int logFd = ::mkstemp(logTemplate);
    if (logFd < 0) {
        *error = "cannot make a log file";
        return false;
    }
    logPath_ = logTemplate;
    // An abstract-looking but file-backed path unique to this process and instance.
    static int counter = 0;
    controlPath_ = "/tmp/zrsim-ctl-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    ::unlink(controlPath_.c_str());
    const std::vector<std::string> argv{exe,          "--iface",    PrivateNetwork::kSimIf,
                                        "--slaves",   slaves_,      "--control",
                                        controlPath_, "--watchdog", std::to_string(watchdogMs_)};
    std::vector<char*> args;  // built before fork: the child only execs
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) {
        ::close(logFd);
        *error = "fork failed";
        return false;
    }
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(1);
        ::dup2(logFd, 1);
        ::dup2(logFd, 2);
        // It stands in for slave hardware, which answers however busy the
        // host is: ahead of the tests' own load (needs root, else it is left).
        ::setpriority(PRIO_PROCESS, 0, -10);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(logFd);
    bool exited = false;
    const bool answered = WaitUntil(
        [&] {
            exited = !running();
            return exited || control("drop 0") == "ok";
        },
        10, {.pause = std::chrono::milliseconds(20)});
    if (exited) {
        *error = "zrsim exited: " + output();
        return false;
    }
    if (answered) return true;
    *error = "zrsim did not come up: " + output();
    stop();
    return false;
}

bool Zrsim::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        pid_ = -1;
        return false;
    }
    return r == 0;
}

void Zrsim::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        const bool ended = WaitUntil(
            [&] {
                const pid_t r = ::waitpid(pid_, &status, WNOHANG);
                return r == pid_ || (r < 0 && errno != EINTR);
            },
            2);
        if (!ended) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }
    if (!controlPath_.empty()) ::unlink(controlPath_.c_str());
}

std::string Zrsim::control(const std::string& line) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, controlPath_.c_str(), sizeof addr.sun_path - 1);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        timeval tv{2, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        const std::string msg = line + "\n";
        if (::send(fd, msg.data(), msg.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(msg.size())) {
            char c;
            while (::recv(fd, &c, 1, 0) == 1 && c != '\n') answer.push_back(c);
        }
    }
    ::close(fd);
    return answer;
}

std::string Zrsim::output() const {
    std::ifstream in(logPath_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool waitForSlaves(const char* iface, int count, std::chrono::milliseconds timeout) {
    if (ec_init(iface) <= 0) return false;
    return WaitUntil(
        [&] {
            uint8_t w[2] = {};
            return ec_BRD(0, 0x0000, 2, w, EC_TIMEOUTRET3) == count;
        },
        timeout, {.pause = std::chrono::milliseconds(10)});
}

}  // namespace testsupport
