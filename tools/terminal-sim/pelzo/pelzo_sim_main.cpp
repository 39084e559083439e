// pelzo-sim: simulated Pelzo terminals on the given loopback addresses.
//
//   pelzo-sim [--password P] [--device-id ID] [--server IP:PORT] ADDRESS...
//
// Each ADDRESS gets a terminal on UDP 21012 that heartbeats, challenges and
// streams capture audio as a real one would. Runs until SIGINT or SIGTERM and
// then prints what each terminal saw.
#include "pelzo_terminal.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) {
    stopRequested = 1;
}

int usage() {
    std::fprintf(
        stderr, "usage: pelzo-sim [--password P] [--device-id ID] [--server IP:PORT] ADDRESS...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    simpelzo::TerminalConfig base;
    uint32_t serverIp = 0;
    uint16_t serverPort = 0;
    std::vector<std::string> addresses;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--password" && hasValue) {
            base.password = argv[++i];
        } else if (arg == "--device-id" && hasValue) {
            base.deviceId = argv[++i];
        } else if (arg == "--server" && hasValue) {
            const std::string v = argv[++i];
            const auto colon = v.find(':');
            in_addr a{};
            if (colon == std::string::npos ||
                inet_pton(AF_INET, v.substr(0, colon).c_str(), &a) != 1)
                return usage();
            serverIp = ntohl(a.s_addr);
            serverPort = static_cast<uint16_t>(std::stoi(v.substr(colon + 1)));
        } else if (!arg.empty() && arg[0] != '-') {
            addresses.push_back(arg);
        } else {
            return usage();
        }
    }
    if (addresses.empty())
        return usage();

    std::vector<std::unique_ptr<simpelzo::Terminal>> terminals;
    std::vector<simpelzo::Terminal*> raw;
    for (const std::string& address : addresses) {
        simpelzo::TerminalConfig cfg = base;
        cfg.address = address;
        auto t = std::make_unique<simpelzo::Terminal>(cfg);
        std::string error;
        if (!t->open(error)) {
            std::fprintf(stderr, "pelzo-sim: %s\n", error.c_str());
            return 1;
        }
        if (serverPort != 0)
            t->setServer(serverIp, serverPort);
        raw.push_back(t.get());
        terminals.push_back(std::move(t));
        std::printf("pelzo-sim: terminal on %s:%u\n", address.c_str(), simpelzo::kPort);
    }
    std::fflush(stdout);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    simpelzo::TerminalRunner runner(raw);
    while (!stopRequested)
        ::pause();
    runner.stop();

    for (const auto& t : terminals) {
        const simpelzo::TerminalState s = t->state();
        std::printf("%s: logged_in=%d accepted=%d refused=%d heartbeats=%d replies=%d "
                    "audio_packets=%d opus_frames=%zu out_volume=%d in_volume=%d\n",
                    t->config().address.c_str(), s.loggedIn, s.loginsAccepted, s.loginsRefused,
                    s.heartbeatsSent, s.heartbeatReplies, s.audioPackets, s.opus.size(),
                    s.outputVolume, s.inputVolume);
    }
    return 0;
}
