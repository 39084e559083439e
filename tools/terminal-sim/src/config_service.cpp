#include "config_service.h"

#include <chrono>
#include <vector>

namespace sim {

namespace {

// What one configuration request does to a terminal.
struct Command {
    uint8_t code;
    std::vector<std::string> applied; // keys taken from the request; "*": any key
    std::vector<std::string> replied; // keys answered with their new values
    const char* message;              // the reply's "message", or null for none
};

const std::vector<Command>& commands() {
    static const std::vector<Command> list = {
        {0x02,
         {"PROTO", "ADDRESS", "NETMASK", "GATEWAY"},
         {"PROTO", "ADDRESS", "NETMASK", "GATEWAY"},
         "network config applied"},
        // Server keys differ by device type: the terminal takes whatever it is sent.
        {0x04, {"*"}, {"*"}, "app config applied"},
        {0x06, {}, {}, "sound played"},
        {0x08, {}, {"DEV_NAME"}, nullptr},
        {0x0A, {"AI_VOLUME", "AO_VOLUME"}, {"AI_VOLUME", "AO_VOLUME"}, "volume applied"},
        {0x0C, {"BOOT_SOUND"}, {}, "boot sound applied"},
        {0x0E, {"DEV_NAME"}, {"DEV_NAME"}, nullptr},
        {0x12, {"WIFI_NAME", "WIFI_PWD"}, {"WIFI_NAME", "WIFI_PWD"}, "wifi connecting"},
        {0x16,
         {"INPUT_DB_UPPER_BOUND", "OUTPUT_DB_UPPER_BOUND"},
         {"INPUT_DB_UPPER_BOUND", "OUTPUT_DB_UPPER_BOUND"},
         "db upper bound applied"},
        {0x18,
         {"REBOOT_AT", "REBOOT_ENABLE"},
         {"REBOOT_AT", "REBOOT_ENABLE"},
         "reboot schedule applied"},
        {0x22, {}, {"FILESYSTEM_MESSAGE"}, nullptr},
    };
    return list;
}

bool addressedTo(const Terminal& t, const Datagram& request) {
    const std::string* hw = t.get("HW_ADDR");
    const std::string* id = t.get("DEV_ID");
    return hw && id && !id->empty() && request.targetHwAddr == *hw && request.targetDevId == *id;
}

} // namespace

ConfigRequests::ConfigRequests(int rebootSilenceMs)
    : silenceMs_(rebootSilenceMs), clock_([] {
          return int64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count());
      }) {}

void ConfigRequests::install(DatagramService& service) {
    service.handle(0x00, [this](Terminal& t, const Datagram& request, Datagram* reply) {
        return !silent(t) && DatagramService::answerScan(t, request, reply);
    });
    for (const Command& c : commands())
        service.handle(c.code, [this](Terminal& t, const Datagram& request, Datagram* reply) {
            return answer(t, request, reply);
        });
}

bool ConfigRequests::silent(const Terminal& t) const {
    auto it = silentUntil_.find(&t);
    return it != silentUntil_.end() && clock_() < it->second;
}

bool ConfigRequests::answer(Terminal& t, const Datagram& request, Datagram* reply) {
    if (silent(t) || !addressedTo(t, request))
        return false;
    const Command* command = nullptr;
    for (const Command& c : commands())
        if (c.code == request.code)
            command = &c;
    if (!command)
        return false;

    std::vector<std::string> touched;
    for (const auto& kv : request.pairs) {
        if (kv.first.empty())
            continue;
        for (const std::string& key : command->applied) {
            if (key == "*" || key == kv.first) {
                t.set(kv.first, kv.second);
                touched.push_back(kv.first);
                break;
            }
        }
    }

    reply->code = uint8_t(request.code + 1);
    reply->pairs.clear();
    reply->pairs.emplace_back("DEV_ID", *t.get("DEV_ID"));
    for (const std::string& key : command->replied) {
        if (key == "*") {
            for (const std::string& k : touched)
                reply->pairs.emplace_back(k, *t.get(k));
            continue;
        }
        const std::string* value = t.get(key);
        if (key == "FILESYSTEM_MESSAGE" && (!value || value->empty()))
            reply->pairs.emplace_back(key, "ok");
        else
            reply->pairs.emplace_back(key, value ? *value : std::string());
    }
    if (command->message)
        reply->pairs.emplace_back("message", command->message);
    if (request.code == 0x08)
        silentUntil_[&t] = clock_() + silenceMs_;
    return true;
}

} // namespace sim
