#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Private networks for tests that broadcast or stand in for terminals on their
// ports: nothing sent there can reach a real network.
namespace netns {

// Addresses of the private network: the manager's own address on a veth link,
// its broadcast address, and the range terminals take (every address of the
// /16 is local, so any number of terminals can bind their own).
inline constexpr const char* managerAddress = "10.77.0.1";
inline constexpr const char* broadcastAddress = "10.77.255.255";
// Address of terminal n (0-based): 10.77.1.1 upward.
std::string terminalAddress(int n);

// Moves the whole process into a fresh network namespace (once per process) and
// builds the network above. Returns false with the reason when that is not
// possible (not root, no namespaces); callers skip then.
bool enter(std::string* why);

// Moves the whole process into a fresh network namespace with only its loopback up,
// for tests that need no more than loopback addresses of their own. False when that is
// not allowed (not root, no namespaces) or the loopback stays down; callers then keep
// to loopbackAddress ranges no other program uses.
bool enterLoopbackOnly();

// Loopback address n (0-based) of a test program: 127.0.<firstBlock + n / 200>.<2 + n % 200>
// inside a private namespace. Outside one the range moves with the process id
// (127.<100 + pid % 100>.<(pid / 100) % 200 + n / 200>.x) to stay clear of other test
// programs running at the same time.
std::string loopbackAddress(int n, bool privateNetwork, int firstBlock = 0);

// A child program whose standard output the test reads line by line.
// The child lives in this process's namespace and is killed by the destructor, or when
// the thread that started it ends (a crashed test leaves nothing running).
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child();

    bool start(const std::vector<std::string>& argv, std::string* why);
    // Reads output lines until one starts with `prefix`; false on time-out or exit.
    bool waitForLine(const std::string& prefix, int timeoutMs, std::string* line = nullptr);
    void stop();
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
};

// Starts terminal-sim (`program`) in this namespace on the fleet `fleetText`
// (fleet file format), with `extra` arguments after it, and waits for its ready
// line. The fleet file is removed once the simulator has read it.
bool startSimulator(Child& child, const std::string& program, const std::string& fleetText,
                    const std::vector<std::string>& extra, std::string* why);

} // namespace netns
