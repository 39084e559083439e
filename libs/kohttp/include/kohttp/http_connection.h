// Public header of kohttp: what one server connection does with the bytes it
// receives, independent of the socket library. A server session owns one
// HttpConnection and gives it hooks for writing, closing and dispatching.
#pragma once

#include <kohttp/http_type.h>
#include <kohttp/websocket.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kohttp {

class HttpConnection {
public:
    struct Hooks {
        WriteFn write;               // bytes to the peer
        std::function<void()> close; // close the connection
        std::function<void(const HttpEventPtr&)> dispatch;
        std::function<void(int opcode, std::string payload)> wsMessage;
        std::function<std::int64_t()> now; // milliseconds; for ping and pong times
        // Gather what is written while received bytes are processed and hand
        // it over in one block (one segment for a head and its body, one for
        // a batch of pipelined answers). Only for servers whose writes all
        // come from the receiving thread.
        bool coalesceWrites = false;
    };

    HttpConnection(HttpConfigPtr config, std::string peer, Hooks hooks);

    // The object that owns this connection (the server's session); events
    // hold it as their session. Set it before receiving: an event answers
    // only while its owner is alive.
    void setOwner(std::weak_ptr<void> owner) { owner_ = std::move(owner); }

    // Takes newly received bytes: parses and dispatches requests, or
    // WebSocket frames once the connection was switched.
    void receive(const char* data, std::size_t len);

    // Sends bytes unless the connection was closed (then they are dropped).
    void send(std::string bytes);
    void close();
    bool isClosed() const { return closed_; }

    void setWebSocket(std::string uri) {
        websocket_ = true;
        uri_ = std::move(uri);
    }
    bool isWebSocket() const { return websocket_; }
    const std::string& uri() const { return uri_; }
    void sendWsFrame(int opcode, std::string_view payload) { send(encodeWsFrame(opcode, payload)); }

    // One heartbeat round for this (subscribed) connection.
    void heartbeat();
    std::int64_t pingTime() const { return pingTime_; }
    std::int64_t pongTime() const { return pongTime_; }

    const std::string& peer() const { return peer_; }
    std::size_t buffered() const { return buffer_.size(); }

private:
    bool receiveHttp();
    void receiveFrames();
    void flush();
    void refuse(const std::string& why);

    HttpConfigPtr config_;
    std::string peer_;
    Hooks hooks_;
    std::weak_ptr<void> owner_;
    HttpParserContext parser_;
    std::string buffer_;
    std::atomic<bool> closed_{false};
    bool corked_ = false;
    std::string pending_; // written while corked
    bool websocket_ = false;
    std::string uri_;
    int messageType_ = 0; // of a fragmented message being assembled
    std::string message_;
    std::int64_t pingTime_ = 0;
    std::int64_t pongTime_ = 0;
};

} // namespace kohttp
