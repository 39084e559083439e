#include "netns.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace netns {

std::string terminalAddress(int n) {
    // 10.77.1.1 .. 10.77.255.254, skipping .0 and .255 of every /24.
    const int third = 1 + n / 254;
    const int fourth = 1 + n % 254;
    return "10.77." + std::to_string(third) + "." + std::to_string(fourth);
}

namespace {

bool run(const std::string& command, std::string* why) {
    const int rc = std::system((command + " 2>&1").c_str());
    if (rc != 0) {
        *why = "command failed (" + std::to_string(rc) + "): " + command;
        return false;
    }
    return true;
}

} // namespace

bool enter(std::string* why) {
    static int state = 0; // 0: not tried, 1: inside, -1: failed
    static std::string reason;
    if (state == 0) {
        if (unshare(CLONE_NEWNET) != 0) {
            reason = std::string("cannot create a network namespace: ") + std::strerror(errno) +
                     " (these tests need root)";
            state = -1;
        } else {
            // From here on every address and route below exists only in this namespace.
            const std::string setup = "ip link set lo up && "
                                      "ip link add tv0 type veth peer name tv1 && "
                                      "ip link set tv0 up && ip link set tv1 up && "
                                      "ip addr add " +
                                      std::string(managerAddress) +
                                      "/16 brd + dev tv0 && "
                                      "ip route add local 10.77.0.0/16 dev lo && "
                                      "ip route add default dev tv0";
            state = run(setup, &reason) ? 1 : -1;
        }
    }
    if (state < 0 && why)
        *why = reason;
    return state > 0;
}

bool enterLoopbackOnly() {
    if (unshare(CLONE_NEWNET) != 0)
        return false;
    // A new namespace starts with its loopback down; nothing binds 127.x until it is up.
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &ifr) == 0 &&
                    (ifr.ifr_flags |= IFF_UP | IFF_RUNNING, ioctl(fd, SIOCSIFFLAGS, &ifr) == 0);
    if (fd >= 0)
        close(fd);
    return up;
}

std::string loopbackAddress(int n, bool privateNetwork, int firstBlock) {
    const int second = privateNetwork ? 0 : 100 + getpid() % 100;
    const int third = privateNetwork ? firstBlock + n / 200 : (getpid() / 100) % 200 + n / 200;
    return "127." + std::to_string(second) + "." + std::to_string(third) + "." +
           std::to_string(2 + n % 200);
}

Child::~Child() {
    stop();
}

bool Child::start(const std::vector<std::string>& argv, std::string* why) {
    int fds[2];
    if (pipe(fds) != 0) {
        *why = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ < 0) {
        *why = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid_ == 0) {
        // A test that crashes leaves no simulator behind.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        execv(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
    return true;
}

bool Child::waitForLine(const std::string& prefix, int timeoutMs, std::string* line) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t nl;
        while ((nl = buffer_.find('\n')) != std::string::npos) {
            std::string l = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            if (l.compare(0, prefix.size(), prefix) == 0) {
                if (line)
                    *line = l;
                return true;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || out_ < 0)
            return false;
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, int(left)) <= 0)
            continue;
        char chunk[4096];
        const ssize_t n = read(out_, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        buffer_.append(chunk, size_t(n));
    }
}

void Child::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    if (out_ >= 0) {
        close(out_);
        out_ = -1;
    }
}

bool startSimulator(Child& child, const std::string& program, const std::string& fleetText,
                    const std::vector<std::string>& extra, std::string* why) {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/tesmo-fleet-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) {
        *why = std::string("mkstemp: ") + std::strerror(errno);
        return false;
    }
    const bool written = write(fd, fleetText.data(), fleetText.size()) == ssize_t(fleetText.size());
    close(fd);
    std::vector<std::string> argv = {program, "--fleet", path};
    argv.insert(argv.end(), extra.begin(), extra.end());
    bool ok = written && child.start(argv, why);
    if (!written)
        *why = "cannot write the fleet file " + path;
    else if (ok && !child.waitForLine("terminal-sim ready", 10000)) {
        *why = "terminal-sim did not start";
        ok = false;
    }
    unlink(path.c_str());
    return ok;
}

} // namespace netns
