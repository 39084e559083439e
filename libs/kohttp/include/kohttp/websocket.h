// Public header of kohttp: WebSocket framing (server side) and the heartbeat
// rule, as functions over bytes and times so every server shares them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kohttp {

enum WsOpcode : int {
    kWsContinuation = 0,
    kWsText = 1,
    kWsBinary = 2,
    kWsClose = 8,
    kWsPing = 9,
    kWsPong = 10,
};

struct WsFrame {
    bool fin = false;
    int opcode = 0;
    std::string payload; // unmasked
};

enum class WsParse { Incomplete, Frame, TooLarge };

// Reads one frame from the front of buf. On Frame, *frame gets it and *size
// the number of bytes it took. A payload over maxPayload is TooLarge without
// waiting for it, so a peer cannot make us buffer it.
WsParse parseWsFrame(std::string_view buf, std::size_t maxPayload, WsFrame* frame,
                     std::size_t* size);

// A final, unmasked frame as a server sends it.
std::string encodeWsFrame(int opcode, std::string_view payload);

enum class WsHeartbeat { None, Ping, Close };

constexpr std::int64_t kWsPingIntervalMs = 30000;
constexpr std::int64_t kWsPongDeadlineMs = 3000;

// What the heartbeat does to one subscribed session: close it when a ping
// has gone unanswered too long (if closeUnanswered), ping it when the last
// ping is old enough.
WsHeartbeat wsHeartbeat(std::int64_t now, std::int64_t pingTime, std::int64_t pongTime,
                        bool closeUnanswered = true);

} // namespace kohttp
