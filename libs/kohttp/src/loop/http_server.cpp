#include <kohttp/loop/http_server.h>

#include "socket_option.h"

#include <lumo/clock.h>
#include <lumo/logger.h>

namespace kohttp::loop {

namespace {

constexpr int kHeartbeatMs = 1000;

void lumoLog(LogLevel level, const char* file, int line, const std::string& msg) {
    int lumoLevel = level == LogLevel::Debug  ? lumo::Logger::Debug
                    : level == LogLevel::Info ? lumo::Logger::Info
                    : level == LogLevel::Warn ? lumo::Logger::Warn
                                              : lumo::Logger::Error;
    lumo::Logger::defaultLogger().log(lumoLevel, lumo::SourceLocation::make(file, line), "%s",
                                      msg.c_str());
}

} // namespace

HttpConfigPtr sdkConfig() {
    static const HttpConfigPtr config = HttpConfig::sdk(&lumoLog);
    return config;
}

// ---- HttpSession ----

HttpSession::HttpSession(HttpServer* server, std::shared_ptr<lumo::TcpSocket> socket)
    : server_(server), socket_(std::move(socket)),
      conn_(server->config(), socket_->peerAddress() + ":" + std::to_string(socket_->peerPort()),
            HttpConnection::Hooks{
                [this](std::string bytes) {
                    socket_->write(bytes.data(), static_cast<int>(bytes.size()));
                },
                [this] { socket_->close(); },
                [this](const HttpEventPtr& event) {
                    if (server_) {
                        server_->dispatch(event);
                    }
                },
                [this](int opcode, std::string payload) {
                    if (server_) {
                        server_->wsMessage(this, opcode, std::move(payload));
                    }
                },
                [this] { return server_ ? server_->now() : lumo::currentTimeMs(); },
                true,
                {}, // lumo sockets do not tell what is still queued
            }) {}

HttpSession::~HttpSession() = default;

// ---- HttpServer ----

HttpServer::HttpServer(HttpConfigPtr config, Clock clock)
    : config_(std::move(config)), clock_(std::move(clock)), loop_(lumo::EventLoopImpl::current()) {
    if (!clock_) {
        clock_ = [] { return lumo::currentTimeMs(); };
    }
}

HttpServer::~HttpServer() {
    if (heartbeatTimer_) {
        heartbeatTimer_->stop();
    }
    if (listener_) {
        listener_->close();
    }
    // Sessions may outlive the server while events hold them; cut them loose.
    for (auto& [socket, session] : sessions_) {
        socket->data.disconnect(session.get());
        socket->disconnected.disconnect(session.get());
        session->server_ = nullptr;
        socket->close();
    }
}

bool HttpServer::listen(const std::string& address, std::uint16_t port, std::string* error) {
    loop_->assertInLoopThread();
    if (listener_) {
        return true;
    }
    std::string why;
    listener_ = lumo::tcpListen(address, port, &why);
    if (!listener_) {
        if (error) {
            *error = why;
        }
        return false;
    }
    if (layers_) {
        listener_->setLayerFactory(layers_);
    }
    listener_->newConnection.connect(this, [this] { accept(); });
    serverStatus.emit(true);
    if (!heartbeatTimer_) {
        heartbeatTimer_ = lumo::EventLoopImpl::current()->startTimer(kHeartbeatMs);
        heartbeatTimer_->timeout.connect(this, [this] { heartbeat(); });
    }
    return true;
}

std::uint16_t HttpServer::port() const {
    return listener_ ? listener_->port() : 0;
}

void HttpServer::setLayerFactory(std::shared_ptr<lumo::LayerFactory> factory) {
    layers_ = std::move(factory);
    if (listener_) {
        listener_->setLayerFactory(layers_);
    }
}

bool HttpServer::route(int method, std::string_view path, HttpHandlerFunc func) {
    return route(method, path, std::make_shared<HttpHandlerByFunc>(std::move(func)));
}

bool HttpServer::route(int method, std::string_view path, HttpHandlerPtr handler) {
    loop_->assertInLoopThread();
    return router_.route(method, path, std::move(handler));
}

void HttpServer::accept() {
    while (auto socket = listener_->nextPendingConnection()) {
        detail::setNoDelay(socket->fd());
        HttpSessionPtr session(new HttpSession(this, socket), lumo::DeleteLater());
        session->conn_.setOwner(session);
        HttpSession* raw = session.get();
        lumo::TcpSocket* key = socket.get();
        sessions_[key] = session;
        socket->data.connect(raw, [raw](const std::string& bytes) {
            raw->conn_.receive(bytes.data(), bytes.size());
        });
        socket->disconnected.connect(raw, [this, key] { removeSession(key); });
        sessionConnected.emit(raw);
    }
}

void HttpServer::removeSession(lumo::TcpSocket* socket) {
    auto it = sessions_.find(socket);
    if (it == sessions_.end()) {
        return;
    }
    HttpSessionPtr session = std::move(it->second);
    sessions_.erase(it);
    session->conn_.close(); // answers still held by handlers are dropped
    if (session->isWebSocket()) {
        auto subs = subscribers_.find(session->uri());
        if (subs != subscribers_.end()) {
            subs->second.erase(session.get());
        }
    }
    session->server_ = nullptr;
}

void HttpServer::setWebSocketHandler(const std::string& uri, WsHandler handler) {
    wsHandlers_[uri] = std::move(handler);
}

void HttpServer::subscribe(const HttpSessionPtr& session, const std::string& uri) {
    loop_->assertInLoopThread();
    if (session->isWebSocket()) {
        subscribers_[session->uri()].erase(session.get());
    }
    session->conn_.setWebSocket(uri);
    subscribers_[uri].insert(session.get());
}

void HttpServer::websocketNotify(const std::string& uri, std::string_view text) {
    loop_->assertInLoopThread();
    auto subs = subscribers_.find(uri);
    if (subs == subscribers_.end()) {
        return;
    }
    for (HttpSession* session : subs->second) {
        session->sendFrame(kWsText, text);
    }
}

void HttpServer::wsMessage(HttpSession* session, int opcode, std::string payload) {
    auto handler = wsHandlers_.find(session->uri());
    if (handler != wsHandlers_.end() && handler->second) {
        handler->second(session->shared_from_this(), opcode, payload);
    }
}

void HttpServer::heartbeat() {
    loop_->assertInLoopThread();
    // Closing only asks the socket to close; sessions leave on disconnection,
    // but walk a copy all the same.
    for (const auto& [uri, sessions] :
         std::map<std::string, std::set<HttpSession*>>(subscribers_)) {
        for (HttpSession* session : sessions) {
            session->conn_.heartbeat();
        }
    }
}

} // namespace kohttp::loop
