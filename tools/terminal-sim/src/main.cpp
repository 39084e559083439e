// terminal-sim: plays a fleet of Audio-over-IP terminals for tests and demos.
// Usage and the fleet file format: README.md beside this file.

#include "config_service.h"
#include "datagram_service.h"
#include "event_loop.h"
#include "pelzo_service.h"
#include "rest_service.h"
#include "speech_service.h"
#include "terminal.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/resource.h>

namespace {

const char usage[] =
    "usage: terminal-sim [options]\n"
    "  --fleet FILE          terminals described in FILE (repeatable)\n"
    "  --generate N          N terminals from the default template ...\n"
    "  --first IP            ... on consecutive addresses from IP\n"
    "  --set KEY=VALUE       override a template key (repeatable; {n} {n:W} {ip} {net} {a|b})\n"
    "  --unset KEY           leave a key out of generated terminals (repeatable)\n"
    "  --listen ADDR         also take broadcast requests arriving at ADDR (repeatable)\n"
    "  --port P              datagram port (default 7669)\n"
    "  --rest-port P         REST port (default 8080; 0: no REST interface)\n"
    "  --pelzo               also run the Pelzo service on UDP 21012 of every terminal\n"
    "  --pelzo-password P    the Pelzo terminals' password (default 574213)\n"
    "  --speech              also run the speech endpoint (POST /v1/speech) on TCP 80\n"
    "  --speech-port P       ... on TCP P instead\n"
    "  --speech-message TEXT the message of its answers (default \"success\")\n"
    "  --reboot-silence MS   silence after a reboot request (default 5000)\n";

int fail(const std::string& message) {
    std::fprintf(stderr, "terminal-sim: %s\n", message.c_str());
    return 2;
}

// Every terminal holds a socket per service; lift the descriptor limit to its ceiling.
void raiseFileLimit() {
    rlimit r{};
    if (getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
        r.rlim_cur = r.rlim_max;
        setrlimit(RLIMIT_NOFILE, &r);
    }
}

} // namespace

int main(int argc, char** argv) {
    sim::Fleet fleet;
    int generateCount = 0;
    std::string first;
    sim::KeyValues overrides;
    std::vector<std::string> unset;
    std::vector<std::string> listen;
    int port = 7669;
    int restPort = 8080;
    bool pelzo = false;
    std::string pelzoPassword = "574213";
    int speechPort = 0;
    std::string speechMessage = "success";
    int rebootSilenceMs = 5000;
    std::string error;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc)
                return false;
            *out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 0;
        } else if (arg == "--fleet" && value(&v)) {
            std::ifstream in(v);
            if (!in)
                return fail("cannot read " + v);
            std::stringstream text;
            text << in.rdbuf();
            if (!sim::loadFleet(text.str(), &fleet, &error))
                return fail(v + ": " + error);
        } else if (arg == "--generate" && value(&v)) {
            generateCount = std::atoi(v.c_str());
        } else if (arg == "--first" && value(&v)) {
            first = v;
        } else if (arg == "--set" && value(&v)) {
            const size_t eq = v.find('=');
            if (eq == std::string::npos)
                return fail("--set wants KEY=VALUE: " + v);
            overrides.emplace_back(v.substr(0, eq), v.substr(eq + 1));
        } else if (arg == "--unset" && value(&v)) {
            unset.push_back(v);
        } else if (arg == "--listen" && value(&v)) {
            listen.push_back(v);
        } else if (arg == "--port" && value(&v)) {
            port = std::atoi(v.c_str());
        } else if (arg == "--rest-port" && value(&v)) {
            restPort = std::atoi(v.c_str());
        } else if (arg == "--pelzo") {
            pelzo = true;
        } else if (arg == "--pelzo-password" && value(&v)) {
            pelzo = true;
            pelzoPassword = v;
        } else if (arg == "--speech") {
            speechPort = 80;
        } else if (arg == "--speech-port" && value(&v)) {
            speechPort = std::atoi(v.c_str());
        } else if (arg == "--speech-message" && value(&v)) {
            speechMessage = v;
        } else if (arg == "--reboot-silence" && value(&v)) {
            rebootSilenceMs = std::atoi(v.c_str());
        } else {
            std::fputs(usage, stderr);
            return fail("bad option: " + arg);
        }
    }
    if (generateCount > 0) {
        if (first.empty())
            return fail("--generate needs --first");
        if (!sim::generate(generateCount, first, overrides, unset, &fleet, &error))
            return fail(error);
    }
    if (fleet.empty())
        return fail("no terminals (use --fleet or --generate)");

    std::signal(SIGPIPE, SIG_IGN);
    raiseFileLimit();
    sim::EventLoop loop;
    std::vector<std::unique_ptr<sim::Service>> services;
    auto datagrams = std::make_unique<sim::DatagramService>(port, listen);
    sim::ConfigRequests config(rebootSilenceMs);
    config.install(*datagrams);
    services.push_back(std::move(datagrams));
    if (restPort > 0)
        services.push_back(std::make_unique<sim::RestService>(restPort));
    if (pelzo)
        services.push_back(std::make_unique<sim::PelzoService>(pelzoPassword));
    if (speechPort > 0)
        services.push_back(std::make_unique<sim::SpeechService>(speechPort, speechMessage));
    for (auto& service : services)
        if (!service->start(loop, fleet, &error))
            return fail(std::string(service->name()) + ": " + error);

    std::printf("terminal-sim ready %zu terminals\n", fleet.size());
    std::fflush(stdout);
    return loop.run() ? 0 : 1;
}
