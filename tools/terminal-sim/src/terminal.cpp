#include "terminal.h"

#include <arpa/inet.h>
#include <cstdio>
#include <sstream>

namespace sim {

const std::string* Terminal::get(const std::string& key) const {
    for (const auto& kv : keys)
        if (kv.first == key)
            return &kv.second;
    return nullptr;
}

void Terminal::set(const std::string& key, const std::string& value) {
    for (auto& kv : keys) {
        if (kv.first == key) {
            kv.second = value;
            return;
        }
    }
    keys.emplace_back(key, value);
}

void Terminal::unset(const std::string& key) {
    for (auto it = keys.begin(); it != keys.end(); ++it) {
        if (it->first == key) {
            keys.erase(it);
            return;
        }
    }
}

const KeyValues& defaultTemplate() {
    static const KeyValues keys = {
        {"DEV_ID", "SIM{n:5}"},
        {"DEV_SERIAL", "SN{n:8}"},
        {"HW_ADDR", "02:00:00:{hw}"},
        {"PROTO", "static"},
        {"ADDRESS", "{ip}"},
        {"NETMASK", "255.255.0.0"},
        {"GATEWAY", "{net}.254"},
        {"AI_VOLUME", "5"},
        {"AO_VOLUME", "7"},
        {"BOOT_SOUND", "1"},
        {"DEV_NAME", "sim-{n}"},
        {"VV", "3.1.0"},
        {"AV", "2.4.0607"},
        {"AN", "aoip"},
        {"WIFI_NAME", ""},
        {"WIFI_PWD", ""},
        {"F", "aoip.p"},
        {"INPUT_DB_UPPER_BOUND", "14"},
        {"OUTPUT_DB_UPPER_BOUND", "0"},
        {"REBOOT_AT", "03:00"},
        {"REBOOT_ENABLE", "0"},
        {"PPPD_MODULE_RECOGNITION", "0"},
        {"FILESYSTEM_MESSAGE", "ok"},
        {"ICCID", "8986{n:16}"},
        {"bcast-client/server.ip", "10.77.0.1"},
        {"bcast-client/server.port", "8000"},
        {"message", "ok"},
    };
    return keys;
}

std::string expand(const std::string& text, int index, const std::string& ip) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        const size_t close = text[i] == '{' ? text.find('}', i) : std::string::npos;
        if (close == std::string::npos) {
            out += text[i++];
            continue;
        }
        const std::string word = text.substr(i + 1, close - i - 1);
        i = close + 1;
        char buf[64];
        if (word == "n") {
            out += std::to_string(index + 1);
        } else if (word.rfind("n:", 0) == 0) {
            std::snprintf(buf, sizeof buf, "%0*d", std::atoi(word.c_str() + 2), index + 1);
            out += buf;
        } else if (word == "ip") {
            out += ip;
        } else if (word == "net") {
            out += ip.substr(0, ip.rfind('.'));
        } else if (word == "hw") {
            std::snprintf(buf, sizeof buf, "%02x:%02x:%02x", ((index + 1) >> 16) & 0xFF,
                          ((index + 1) >> 8) & 0xFF, (index + 1) & 0xFF);
            out += buf;
        } else if (word.find('|') != std::string::npos) {
            std::vector<std::string> alternatives;
            std::stringstream ss(word);
            std::string alt;
            while (std::getline(ss, alt, '|'))
                alternatives.push_back(alt);
            if (word.back() == '|')
                alternatives.push_back("");
            out += alternatives[size_t(index) % alternatives.size()];
        } else {
            out += "{" + word + "}";
        }
    }
    return out;
}

bool nextAddress(const std::string& first, int steps, std::string* out) {
    in_addr a{};
    if (inet_pton(AF_INET, first.c_str(), &a) != 1)
        return false;
    uint32_t v = ntohl(a.s_addr);
    for (int i = 0; i < steps; ++i) {
        do {
            ++v;
        } while ((v & 0xFF) == 0 || (v & 0xFF) == 0xFF);
    }
    a.s_addr = htonl(v);
    char buf[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a, buf, sizeof buf);
    *out = buf;
    return true;
}

namespace {

Terminal fromTemplate(const KeyValues& tmpl, int index, const std::string& ip) {
    Terminal t;
    t.bind = ip;
    for (const auto& kv : tmpl)
        t.keys.emplace_back(kv.first, expand(kv.second, index, ip));
    return t;
}

bool generateFrom(const KeyValues& tmpl, int count, const std::string& first, Fleet* fleet,
                  std::string* error) {
    for (int i = 0; i < count; ++i) {
        std::string ip;
        if (!nextAddress(first, i, &ip)) {
            *error = "not an IPv4 address: " + first;
            return false;
        }
        fleet->push_back(fromTemplate(tmpl, i, ip));
    }
    return true;
}

KeyValues merged(const KeyValues& base, const KeyValues& overrides,
                 const std::vector<std::string>& remove) {
    Terminal t;
    t.keys = base;
    for (const auto& kv : overrides)
        t.set(kv.first, kv.second);
    for (const auto& key : remove)
        t.unset(key);
    return t.keys;
}

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return "";
    const size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

} // namespace

bool generate(int count, const std::string& first, const KeyValues& overrides,
              const std::vector<std::string>& remove, Fleet* fleet, std::string* error) {
    return generateFrom(merged(defaultTemplate(), overrides, remove), count, first, fleet, error);
}

bool loadFleet(const std::string& text, Fleet* fleet, std::string* error) {
    struct Section {
        bool generator = false;
        int count = 0;
        std::string first;
        std::string bind;
        KeyValues keys;
        std::vector<std::string> remove;
        int line = 0;
    };
    std::vector<Section> sections;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string l = trim(line);
        if (l.empty() || l[0] == '#')
            continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        if (l == "[terminal]" || l == "[generate]") {
            sections.push_back(Section{});
            sections.back().generator = l == "[generate]";
            if (sections.back().generator)
                sections.back().keys = defaultTemplate();
            sections.back().line = number;
            continue;
        }
        if (sections.empty()) {
            *error = where + "expected [terminal] or [generate] first";
            return false;
        }
        Section& s = sections.back();
        const size_t eq = l.find('=');
        if (eq == std::string::npos) {
            *error = where + "expected KEY = VALUE";
            return false;
        }
        const std::string key = trim(l.substr(0, eq));
        const std::string value = trim(l.substr(eq + 1));
        if (key == "@bind")
            s.bind = value;
        else if (key == "@count")
            s.count = std::atoi(value.c_str());
        else if (key == "@first")
            s.first = value;
        else if (key == "@defaults")
            s.keys = value == "yes" ? defaultTemplate() : KeyValues{};
        else if (key == "@unset")
            s.remove.push_back(value);
        else if (!key.empty() && key[0] == '@') {
            *error = where + "unknown directive " + key;
            return false;
        } else {
            Terminal t;
            t.keys = s.keys;
            t.set(key, value);
            s.keys = t.keys;
        }
    }
    for (const Section& s : sections) {
        const std::string where = "section at line " + std::to_string(s.line) + ": ";
        if (s.generator) {
            if (s.count <= 0 || s.first.empty()) {
                *error = where + "[generate] needs @count and @first";
                return false;
            }
            if (!generateFrom(merged(s.keys, {}, s.remove), s.count, s.first, fleet, error))
                return false;
            continue;
        }
        Terminal t;
        t.keys = merged(s.keys, {}, s.remove);
        t.bind = s.bind;
        if (t.bind.empty() && t.get("ADDRESS"))
            t.bind = *t.get("ADDRESS");
        if (t.bind.empty()) {
            *error = where + "a terminal needs @bind or ADDRESS";
            return false;
        }
        fleet->push_back(t);
    }
    return true;
}

} // namespace sim
