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
        // Bytes written and not yet taken by the peer; when it passes
        // limits.maxPendingOutput the connection pauses (see resume()).
        // Empty: no such bound.
        std::function<std::size_t()> pendingOutput;
    };

    HttpConnection(HttpConfigPtr config, std::string peer, Hooks hooks);

    // The object that owns this connection (the server's session); events
    // hold it as their session. Set it before receiving: an event answers
    // only while its owner is alive.
    void setOwner(std::weak_ptr<void> owner) { owner_ = std::move(owner); }

    // Takes newly received bytes: parses and dispatches requests, or
    // WebSocket frames once the connection was switched.
    void receive(const char* data, std::size_t len);

    // Paused: answers waiting to leave passed the bound, so received bytes
    // are kept but neither parsed nor dispatched. The server calls resume()
    // once the peer took some, and should read nothing from the socket while
    // paused (the peer is then held back by TCP itself).
    bool isPaused() const { return paused_; }
    void resume();

    // Sends bytes unless the connection was closed (then they are dropped).
    // Thread safe when the write and close hooks are and coalesceWrites is off.
    void send(std::string bytes);
    void close();
    bool isClosed() const { return closed_; }
    // Requests dispatched whose answer has not been sent yet (any thread).
    int unanswered() const { return unanswered_; }

    // Calls dispatch for the event; a handler that throws answers 500 and the
    // server goes on. For servers that dispatch on threads of their own.
    static void dispatchGuarded(const HttpConfig& config, const std::string& peer,
                                const HttpEventPtr& event,
                                const std::function<void(const HttpEventPtr&)>& dispatch);

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
    void process();
    bool receiveHttp();
    bool dispatchCompleted();
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
    bool corked_ = false; // only ever set with coalesceWrites
    std::string pending_; // written while corked
    bool paused_ = false;
    std::atomic<int> unanswered_{0};
    bool websocket_ = false;
    std::string uri_;
    int messageType_ = 0; // of a fragmented message being assembled
    std::string message_;
    std::int64_t pingTime_ = 0;
    std::int64_t pongTime_ = 0;
};

} // namespace kohttp
