#include <kohttp/websocket.h>

namespace kohttp {

WsParse parseWsFrame(std::string_view buf, std::size_t maxPayload, WsFrame* frame,
                     std::size_t* size) {
    if (buf.size() < 2) {
        return WsParse::Incomplete;
    }
    auto byte = [&buf](std::size_t i) { return static_cast<std::uint8_t>(buf[i]); };
    const bool masked = (byte(1) & 0x80) != 0;
    std::uint64_t length = byte(1) & 0x7f;
    std::size_t header = 2;
    if (length >= 126) {
        std::size_t extra = length == 126 ? 2 : 8;
        if (buf.size() < header + extra) {
            return WsParse::Incomplete;
        }
        length = 0;
        for (std::size_t i = 0; i < extra; ++i) {
            length = (length << 8) | byte(header + i);
        }
        header += extra;
    }
    if (length > maxPayload) {
        return WsParse::TooLarge;
    }
    std::size_t keyAt = header;
    if (masked) {
        header += 4;
    }
    if (buf.size() < header || buf.size() - header < length) {
        return WsParse::Incomplete;
    }
    frame->fin = (byte(0) & 0x80) != 0;
    frame->opcode = byte(0) & 0x0f;
    frame->payload.assign(buf.substr(header, static_cast<std::size_t>(length)));
    if (masked) {
        for (std::size_t i = 0; i < frame->payload.size(); ++i) {
            frame->payload[i] = static_cast<char>(frame->payload[i] ^ buf[keyAt + i % 4]);
        }
    }
    *size = header + static_cast<std::size_t>(length);
    return WsParse::Frame;
}

std::string encodeWsFrame(int opcode, std::string_view payload) {
    std::string out;
    out.reserve(payload.size() + 10);
    out.push_back(static_cast<char>(0x80 | (opcode & 0x0f)));
    const std::uint64_t len = payload.size();
    if (len < 126) {
        out.push_back(static_cast<char>(len));
    } else if (len <= 0xffff) {
        out.push_back(static_cast<char>(126));
        out.push_back(static_cast<char>(len >> 8));
        out.push_back(static_cast<char>(len & 0xff));
    } else {
        out.push_back(static_cast<char>(127));
        for (int shift = 56; shift >= 0; shift -= 8) {
            out.push_back(static_cast<char>((len >> shift) & 0xff));
        }
    }
    out.append(payload);
    return out;
}

WsHeartbeat wsHeartbeat(std::int64_t now, std::int64_t pingTime, std::int64_t pongTime,
                        bool closeUnanswered) {
    if (closeUnanswered && pingTime != 0 && pingTime > pongTime &&
        now - pingTime > kWsPongDeadlineMs) {
        return WsHeartbeat::Close;
    }
    if (now - pingTime > kWsPingIntervalMs) {
        return WsHeartbeat::Ping;
    }
    return WsHeartbeat::None;
}

} // namespace kohttp
