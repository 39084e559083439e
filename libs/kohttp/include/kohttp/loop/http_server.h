// Public header of kohttp_lumo: the HTTP server on a lumo event loop.
//
// Everything runs on the thread of the loop that created the server: the
// listener, the sessions, the handlers and the response writes. Events must be
// released on that thread too. Methods are loop thread only.
#pragma once

#include <kohttp/http_connection.h>
#include <kohttp/http_router.h>
#include <kohttp/http_type.h>

#include <lumo/eventloop.h>
#include <lumo/net.h>
#include <lumo/object.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace kohttp::loop {

class HttpServer;

// The message-layer configuration of the SDK, logging through lumo's default
// logger with the source location of the line.
HttpConfigPtr sdkConfig();

// One accepted connection.
class HttpSession : public lumo::Object, public std::enable_shared_from_this<HttpSession> {
public:
    ~HttpSession() override;

    const std::shared_ptr<lumo::TcpSocket>& socket() const { return socket_; }
    const std::string& peer() const { return conn_.peer(); }
    bool isWebSocket() const { return conn_.isWebSocket(); }
    const std::string& uri() const { return conn_.uri(); }
    std::int64_t pingTime() const { return conn_.pingTime(); }
    std::int64_t pongTime() const { return conn_.pongTime(); }

    // Sends one unfragmented WebSocket frame.
    void sendFrame(int opcode, std::string_view payload) { conn_.sendWsFrame(opcode, payload); }
    void close() { conn_.close(); }

private:
    friend class HttpServer;
    HttpSession(HttpServer* server, std::shared_ptr<lumo::TcpSocket> socket);

    HttpServer* server_; // null once the server is gone
    std::shared_ptr<lumo::TcpSocket> socket_;
    HttpConnection conn_;
};

using HttpSessionPtr = std::shared_ptr<HttpSession>;

class HttpServer : public lumo::Object {
public:
    using Clock = std::function<std::int64_t()>;
    using WsHandler = std::function<void(const HttpSessionPtr&, int opcode, const std::string&)>;

    // clock gives the ping and pong times (lumo::currentTimeMs when empty).
    explicit HttpServer(HttpConfigPtr config = sdkConfig(), Clock clock = {});
    ~HttpServer() override;

    // Listens on address ("" or "0.0.0.0": all) and port. Already listening:
    // true at once, whatever the arguments. On failure *error gets the reason.
    bool listen(const std::string& address, std::uint16_t port, std::string* error);
    bool isListening() const { return listener_ != nullptr; }
    std::uint16_t port() const;
    // Layers for connections accepted from now on (e.g. TLS).
    void setLayerFactory(std::shared_ptr<lumo::LayerFactory> factory);

    // Registers a route; false when a regular-expression segment is invalid.
    bool route(int method, std::string_view path, HttpHandlerFunc func);
    bool route(int method, std::string_view path, HttpHandlerPtr handler);
    void addInterceptor(HttpInterceptor interceptor) {
        router_.addInterceptor(std::move(interceptor));
    }

    // WebSocket: the handshake is the caller's (typically a route answering
    // 101); subscribe() then switches the session and lists it under uri.
    void setWebSocketHandler(const std::string& uri, WsHandler handler);
    void subscribe(const HttpSessionPtr& session, const std::string& uri);
    void websocketNotify(const std::string& uri, std::string_view text);

    // One heartbeat round over the subscribers; the 1000 ms timer calls it.
    void heartbeat();

    std::size_t sessionCount() const { return sessions_.size(); }
    const HttpConfigPtr& config() const { return config_; }

    lumo::Signal<bool> serverStatus;
    lumo::Signal<HttpSession*> sessionConnected;

private:
    friend class HttpSession;
    void accept();
    void removeSession(lumo::TcpSocket* socket);
    void dispatch(const HttpEventPtr& event) { router_.dispatch(event); }
    void wsMessage(HttpSession* session, int opcode, std::string payload);
    std::int64_t now() const { return clock_(); }

    HttpConfigPtr config_;
    Clock clock_;
    lumo::EventLoopImpl* loop_; // the loop of the creating thread
    std::shared_ptr<lumo::TcpServer> listener_;
    std::shared_ptr<lumo::LayerFactory> layers_;
    std::map<lumo::TcpSocket*, HttpSessionPtr> sessions_;
    HttpRouter router_;
    std::map<std::string, WsHandler> wsHandlers_;
    std::map<std::string, std::set<HttpSession*>> subscribers_;
    std::shared_ptr<lumo::Timer> heartbeatTimer_;
};

} // namespace kohttp::loop
