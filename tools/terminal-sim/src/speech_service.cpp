#include "speech_service.h"

#include "json_text.h"

#include <cstdio>
#include <cstdlib>
#include <map>

namespace sim {

namespace {

// The body as one line: control characters as \u escapes.
std::string oneLine(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out;
}

bool integer(const JsonMember& m, long long* out) {
    if (m.isString || m.text.empty())
        return false;
    char* end = nullptr;
    *out = std::strtoll(m.text.c_str(), &end, 10);
    return *end == '\0';
}

void printLine(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

} // namespace

std::string SpeechService::heardLine(const Heard& h) {
    std::string line = "speech " + h.address + " heard text=";
    appendJsonString(line, h.text);
    line += " vcn=";
    appendJsonString(line, h.vcn);
    line += " speed=" + std::to_string(h.speed) + " volume=" + std::to_string(h.volume);
    line += " body=" + oneLine(h.body);
    return line;
}

bool SpeechService::hasSpeech(const Terminal& terminal) {
    const std::string* features = terminal.get("F");
    if (!features)
        return false;
    size_t start = 0;
    for (;;) {
        const size_t comma = features->find(',', start);
        if (features->compare(start, comma == std::string::npos ? std::string::npos : comma - start,
                              "aoip.x") == 0)
            return true;
        if (comma == std::string::npos)
            return false;
        start = comma + 1;
    }
}

HttpService::Response SpeechService::refuse(const Terminal& terminal, int status,
                                            const std::string& reason) {
    printLine("speech " + terminal.bind + " refused: " + reason);
    return {status, errorBody(status, reason.c_str())};
}

HttpService::Response SpeechService::handle(Terminal& terminal, const Request& request) {
    if (request.path != "/v1/speech")
        return {404, errorBody(404, "not found")};
    if (request.method != "POST")
        return {405, errorBody(405, "method not allowed")};
    if (!hasSpeech(terminal))
        return refuse(terminal, 404, "no speech feature");

    std::map<std::string, JsonMember> members;
    std::string error;
    if (!parseFlatObject(request.body, &members, &error))
        return refuse(terminal, 400, "bad json: " + error);
    Heard h;
    h.address = terminal.bind;
    h.body = request.body;
    auto text = [&](const char* key, std::string* out) {
        auto it = members.find(key);
        if (it == members.end() || !it->second.isString)
            return false;
        *out = it->second.text;
        return true;
    };
    auto number = [&](const char* key, long long* out) {
        auto it = members.find(key);
        return it != members.end() && integer(it->second, out);
    };
    if (!text("text", &h.text))
        return refuse(terminal, 400, "\"text\" must be a string");
    if (!text("vcn", &h.vcn))
        return refuse(terminal, 400, "\"vcn\" must be a string");
    if (!number("speed", &h.speed))
        return refuse(terminal, 400, "\"speed\" must be an integer");
    if (!number("volume", &h.volume))
        return refuse(terminal, 400, "\"volume\" must be an integer");
    // Printed before the answer leaves, so whoever reads the answer can read the line.
    printLine(heardLine(h));
    heard_.push_back(std::move(h));
    return {200, JsonObject().number("code", 200).text("message", message_).str()};
}

} // namespace sim
