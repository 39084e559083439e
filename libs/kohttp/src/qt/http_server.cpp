#include <kohttp/qt/http_server.h>
#include <kohttp/qt/lambda_runnable.h>
#include <kohttp/qt/socket_write.h>
#include <kohttp/qt/tcp_server_ex.h>

#include <QDateTime>
#include <QDebug>
#include <QMessageLogger>
#include <QSslSocket>
#include <QTcpSocket>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <exception>
#include <mutex>
#include <vector>

namespace kohttp::qt {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr int kHeartbeatMs = 1000;
// What Qt may hold of one peer's unread input; the rest waits in the kernel.
constexpr qint64 kReadBufferBytes = 1 << 20;

void qtLog(LogLevel level, const char* file, int line, const std::string& msg) {
    QMessageLogger logger(file, line, nullptr);
    switch (level) {
    case LogLevel::Debug:
        logger.debug("%s", msg.c_str());
        break;
    case LogLevel::Info:
        logger.info("%s", msg.c_str());
        break;
    case LogLevel::Warn:
        logger.warning("%s", msg.c_str());
        break;
    case LogLevel::Error:
        logger.critical("%s", msg.c_str());
        break;
    }
}

// Terminals are found by their dotted IPv4 address, also when a dual-stack
// socket reports it as ::ffff:a.b.c.d.
QString dottedAddress(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

} // namespace

HttpConfigPtr managerConfig() {
    static const HttpConfigPtr config = [] {
        auto c = std::make_shared<HttpConfig>(*HttpConfig::manager());
        c->log = &qtLog;
        c->headWithBody = true;
        return HttpConfigPtr(std::move(c));
    }();
    return config;
}

namespace detail {

struct ServerCore {
    HttpConfigPtr config;
    HttpServer::Clock clock;
    // The server's one lock: sessions, routes, subscribers. A standard mutex
    // rather than Qt's, so race checkers see what it orders.
    std::recursive_mutex mutex;
    HttpRouter router;
    std::map<QString, HttpServer::WsHandler> wsHandlers;
    QThreadPool* pool = nullptr;

    QThreadPool* workerPool() {
        Lock lock(mutex);
        return pool;
    }

    // Interceptors and the route under the lock; the handler outside it, so
    // a handler that waits for another thread cannot hold the server.
    void route(const HttpEventPtr& event) {
        HttpRouter::Match match;
        {
            Lock lock(mutex);
            if (!router.intercept(event)) {
                return;
            }
            match = router.match(event);
        }
        HttpRouter::answer(event, match);
    }

    void wsMessage(const HttpSessionPtr& session, const QString& uri, int opcode,
                   const QByteArray& payload) {
        HttpServer::WsHandler handler;
        {
            Lock lock(mutex);
            auto it = wsHandlers.find(uri);
            if (it != wsHandlers.end()) {
                handler = it->second;
            }
        }
        if (!handler) {
            return;
        }
        try {
            handler(session, opcode, payload);
        } catch (const std::exception& e) {
            qWarning().noquote() << "websocket handler failed:" << e.what() << "peer"
                                 << session->peerAddress();
        }
    }
};

} // namespace detail

// ---- HttpSession ----

HttpSession::HttpSession(HttpServer* server, std::shared_ptr<detail::ServerCore> core,
                         QTcpSocket* socket)
    : server_(server), core_(std::move(core)), socket_(socket),
      peerAddress_(dottedAddress(socket->peerAddress())), peerPort_(socket->peerPort()),
      conn_(core_->config, (peerAddress_ + ':' + QString::number(peerPort_)).toStdString(),
            hooks()) {}

HttpSession::~HttpSession() {
    // The last holder may have been a pool thread that handed the session
    // over through Qt's event queue; taking the lock orders its last touches
    // before this destruction for race checkers as well.
    Lock lock(core_->mutex);
}

// The last holder of a session may be a pool thread; the QObject goes on the
// thread it belongs to, and the lock hands it over visibly (see the
// destructor).
void HttpSession::release(HttpSession* session) {
    if (session->thread() == QThread::currentThread()) {
        delete session;
        return;
    }
    { Lock lock(session->core_->mutex); }
    session->deleteLater();
}

HttpConnection::Hooks HttpSession::hooks() {
    HttpConnection::Hooks hooks;
    // Both go through signals, so they are safe from any thread and reach
    // the socket only while it exists.
    hooks.write = [this](std::string bytes) {
        if (QThread::currentThread() == d_.thread()) {
            // A direct call: the socket copies the bytes before this returns.
            emit d_.sendMessage(
                QByteArray::fromRawData(bytes.data(), static_cast<int>(bytes.size())));
        } else {
            emit d_.sendMessage(QByteArray::fromStdString(bytes));
        }
    };
    hooks.close = [this] { emit d_.closeConnection(); };
    hooks.dispatch = [this](const HttpEventPtr& event) {
        QThreadPool* pool = event->request().upgrade ? nullptr : core_->workerPool();
        if (!pool) {
            core_->route(event);
            return;
        }
        pool->start(new LambdaRunnable([core = core_, event, peer = conn_.peer()] {
            HttpConnection::dispatchGuarded(*core->config, peer, event,
                                            [&core](const HttpEventPtr& e) { core->route(e); });
        }));
    };
    hooks.wsMessage = [this](int opcode, std::string payload) {
        HttpSessionPtr self = shared_from_this();
        const QString uri = QString::fromStdString(conn_.uri());
        const QByteArray bytes = QByteArray::fromStdString(payload);
        if (QThreadPool* pool = core_->workerPool()) {
            pool->start(new LambdaRunnable([core = core_, self, uri, opcode, bytes] {
                core->wsMessage(self, uri, opcode, bytes);
            }));
        } else {
            core_->wsMessage(self, uri, opcode, bytes);
        }
    };
    hooks.now = [core = core_.get()] { return core->clock(); };
    hooks.pendingOutput = [this] {
        return socket_ ? static_cast<std::size_t>(socket_->bytesToWrite()) : std::size_t(0);
    };
    return hooks;
}

void HttpSession::setOrgId(int id) {
    Lock lock(core_->mutex);
    orgId_ = id;
}

int HttpSession::orgId() const {
    Lock lock(core_->mutex);
    return orgId_;
}

void HttpSession::setOrgIds(const QList<int>& ids) {
    Lock lock(core_->mutex);
    orgIds_ = ids;
}

QList<int> HttpSession::orgIds() const {
    Lock lock(core_->mutex);
    return orgIds_;
}

void HttpSession::sendFrame(int opcode, const QByteArray& payload) {
    conn_.sendWsFrame(
        opcode, std::string_view(payload.constData(), static_cast<std::size_t>(payload.size())));
}

void HttpSession::readSocket() {
    // A handler may stop the server, which lets go of this session.
    HttpSessionPtr self = shared_from_this();
    while (socket_ && !conn_.isPaused() && !conn_.isClosed() && socket_->bytesAvailable() > 0) {
        const QByteArray bytes = socket_->readAll();
        lastActivity_ = core_->clock();
        conn_.receive(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
}

void HttpSession::onBytesWritten() {
    lastActivity_ = core_->clock();
    if (!conn_.isPaused() || !socket_ ||
        static_cast<std::size_t>(socket_->bytesToWrite()) >
            core_->config->limits.maxPendingOutput / 2) {
        return;
    }
    HttpSessionPtr self = shared_from_this();
    conn_.resume();
    readSocket();
}

void HttpSession::detach() {
    server_ = nullptr;
    conn_.close(); // answers still owed are dropped
    socket_ = nullptr;
}

// ---- HttpServer ----

HttpServer::HttpServer(QObject* parent, HttpConfigPtr config, Clock clock)
    : QObject(parent), core_(std::make_shared<detail::ServerCore>()), d_(new HttpServerPrivate) {
    d_->setParent(this);
    core_->config = std::move(config);
    core_->clock = clock ? std::move(clock) : [] { return QDateTime::currentMSecsSinceEpoch(); };
    qRegisterMetaType<QHostAddress>("QHostAddress");
    qRegisterMetaType<QTcpSocket*>("QTcpSocket*");
    connect(d_, &HttpServerPrivate::start, this, &HttpServer::doStart);
    connect(d_, &HttpServerPrivate::stop, this, &HttpServer::doStop);
    connect(d_, &HttpServerPrivate::websocketNotify, this, &HttpServer::doWebsocketNotify);
    connect(d_, &HttpServerPrivate::websocketNotifyByToken, this,
            &HttpServer::doWebsocketNotifyByToken);
    connect(d_, &HttpServerPrivate::socketSend, this, &HttpServer::doSocketSend);
}

HttpServer::~HttpServer() {
    Lock lock(core_->mutex);
    if (heartbeat_) {
        heartbeat_->stop();
    }
    if (listener_) {
        listener_->close();
    }
    // Events held elsewhere keep their sessions; those are cut loose here
    // and drop whatever they answer later.
    dropSessions(true);
}

bool HttpServer::route(int method, const QString& path, HttpHandler* handler) {
    return route(method, path, HttpHandlerPtr(handler, [](HttpHandler*) {}));
}

bool HttpServer::route(int method, const QString& path, HttpHandlerPtr handler) {
    Lock lock(core_->mutex);
    return core_->router.route(method, path.toStdString(), std::move(handler));
}

bool HttpServer::route(int method, const QString& path, HttpHandlerFunc func) {
    return route(method, path, std::make_shared<HttpHandlerByFunc>(std::move(func)));
}

void HttpServer::addInterceptor(HttpInterceptor interceptor) {
    Lock lock(core_->mutex);
    core_->router.addInterceptor(std::move(interceptor));
}

void HttpServer::setTlsConfiguration(const QSslConfiguration& tls) {
    Lock lock(core_->mutex);
    tls_ = tls;
}

void HttpServer::setWorkerPool(QThreadPool* pool) {
    Lock lock(core_->mutex);
    core_->pool = pool;
}

void HttpServer::setWebSocketHandler(const QString& uri, WsHandler handler) {
    Lock lock(core_->mutex);
    core_->wsHandlers[uri] = std::move(handler);
}

void HttpServer::subscribe(const HttpSessionPtr& session, const QString& uri) {
    Lock lock(core_->mutex);
    if (session->isWebSocket()) {
        subscribers_[session->uri()].erase(session.get());
    }
    session->conn_.setWebSocket(uri.toStdString());
    subscribers_[uri].insert(session.get());
}

quint16 HttpServer::port() const {
    Lock lock(core_->mutex);
    return listener_ ? listener_->serverPort() : 0;
}

int HttpServer::sessionCount() const {
    Lock lock(core_->mutex);
    return static_cast<int>(sessions_.size());
}

void HttpServer::doStart(const QHostAddress& host, quint16 port) {
    Lock lock(core_->mutex);
    if (listener_) {
        return;
    }
    auto* listener = new TcpServerEx(tls_, this);
    if (!listener->listen(host, port)) {
        qDebug().noquote() << "Failed to bind to host" << host.toString() << "port" << port
                           << listener->errorString();
        delete listener;
        emit serverStatus(false);
        return;
    }
    listener_ = listener;
    if (port == 0) {
        port = listener->serverPort();
    }
    qDebug() << "http server bound to tcp port" << port;
    connect(listener, &QTcpServer::newConnection, this, &HttpServer::newConnection);
    connect(listener, &QTcpServer::acceptError, this,
            [this, listener](QAbstractSocket::SocketError error) {
                qWarning() << "http accept error" << error;
                // Qt stops accepting after such an error (no descriptors left, say);
                // try again shortly instead of going deaf for good.
                QTimer::singleShot(acceptRetryMs_, listener,
                                   [listener] { listener->resumeAccepting(); });
            });
    emit serverStatus(true);
    if (!heartbeat_) {
        heartbeat_ = new QTimer(this);
        connect(heartbeat_, &QTimer::timeout, this, &HttpServer::onWsHbTimer);
    }
    heartbeat_->start(kHeartbeatMs);
}

void HttpServer::doStop() {
    Lock lock(core_->mutex);
    if (listener_) {
        listener_->close();
        listener_->deleteLater();
        listener_ = nullptr;
        if (heartbeat_) {
            heartbeat_->stop();
            heartbeat_->deleteLater();
            heartbeat_ = nullptr;
        }
        dropSessions(false);
    }
    emit serverStatus(false);
}

void HttpServer::dropSessions(bool now) {
    std::map<QTcpSocket*, HttpSessionPtr> sessions;
    sessions.swap(sessions_);
    subscribers_.clear();
    for (auto& [socket, session] : sessions) {
        socket->disconnect();
        session->detach();
        if (now) {
            delete socket;
        } else {
            socket->deleteLater();
        }
    }
}

void HttpServer::newConnection() {
    Lock lock(core_->mutex);
    while (listener_ && listener_->hasPendingConnections()) {
        QTcpSocket* socket = listener_->nextPendingConnection();
        socket->setParent(nullptr); // its life is the session's, not the listener's
        if (static_cast<int>(sessions_.size()) >= maxSessions_) {
            qWarning().noquote() << "http connection refused:" << sessions_.size()
                                 << "sessions open, peer" << dottedAddress(socket->peerAddress());
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // An answer leaves at once instead of waiting for the peer to
        // acknowledge the previous segment.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket->setReadBufferSize(kReadBufferBytes);
        HttpSessionPtr session(new HttpSession(this, core_, socket), &HttpSession::release);
        session->conn_.setOwner(session);
        session->lastActivity_ = core_->clock();
        sessions_[socket] = session;
        HttpSession* raw = session.get();
        const bool plain = qobject_cast<QSslSocket*>(socket) == nullptr;
        connect(&raw->d_, &HttpSessionPrivate::sendMessage, socket,
                [socket, plain](const QByteArray& bytes) {
                    // Bytes still on their way when the peer left are dropped.
                    if (socket->state() != QAbstractSocket::ConnectedState) {
                        return;
                    }
                    // Qt would send on its next loop pass; with nothing queued
                    // before them the bytes leave now, in one call, and only
                    // what the system does not take waits in Qt's buffer.
                    if (plain) {
                        writeThrough(socket, bytes.constData(), bytes.size());
                    } else {
                        socket->write(bytes);
                    }
                });
        connect(&raw->d_, &HttpSessionPrivate::closeConnection, socket,
                &QAbstractSocket::disconnectFromHost);
        connect(
            socket, &QIODevice::readyRead, socket, [raw] { raw->readSocket(); },
            Qt::DirectConnection);
        connect(
            socket, &QIODevice::bytesWritten, socket, [raw] { raw->onBytesWritten(); },
            Qt::DirectConnection);
        connect(
            socket, &QAbstractSocket::disconnected, this, [this, socket] { removeSession(socket); },
            Qt::DirectConnection);
        connect(
            socket, &QAbstractSocket::errorOccurred, this,
            [this, socket] {
                if (socket->state() == QAbstractSocket::UnconnectedState) {
                    removeSession(socket);
                }
            },
            Qt::DirectConnection);
        emit sessionConnected(raw);
    }
}

void HttpServer::removeSession(QTcpSocket* socket) {
    Lock lock(core_->mutex);
    auto it = sessions_.find(socket);
    if (it == sessions_.end()) {
        return;
    }
    HttpSessionPtr session = it->second;
    if (session->isWebSocket()) {
        auto subs = subscribers_.find(session->uri());
        if (subs != subscribers_.end()) {
            subs->second.erase(session.get());
        }
    }
    emit sessionDisconnected(session.get());
    sessions_.erase(socket);
    socket->disconnect();
    session->detach();
    socket->deleteLater();
}

void HttpServer::doWebsocketNotify(const QString& uri, const QString& message, int orgId) {
    Lock lock(core_->mutex);
    auto subs = subscribers_.find(uri);
    if (subs == subscribers_.end()) {
        return;
    }
    const QByteArray text = message.toUtf8();
    for (HttpSession* session : subs->second) {
        if (orgId > 0 && session->orgId_ != 0 && session->orgId_ != orgId &&
            !session->orgIds_.contains(orgId)) {
            continue;
        }
        session->sendFrame(kWsText, text);
    }
}

void HttpServer::doWebsocketNotifyByToken(const QString& uri, const QByteArray& message,
                                          const QString& token) {
    Lock lock(core_->mutex);
    auto subs = subscribers_.find(uri);
    if (subs == subscribers_.end()) {
        return;
    }
    for (HttpSession* session : subs->second) {
        if (session->property("access_token").toString() == token) {
            session->sendFrame(kWsBinary, message);
        }
    }
}

void HttpServer::doSocketSend(QTcpSocket* socket, const QByteArray& bytes) {
    Lock lock(core_->mutex);
    auto it = sessions_.find(socket);
    if (it == sessions_.end()) {
        return; // the connection is gone
    }
    it->second->conn_.send(bytes.toStdString());
}

void HttpServer::onWsHbTimer() {
    {
        Lock lock(core_->mutex);
        std::vector<HttpSessionPtr> subscribed;
        for (const auto& [uri, sessions] : subscribers_) {
            for (HttpSession* session : sessions) {
                subscribed.push_back(session->shared_from_this());
            }
        }
        for (const HttpSessionPtr& session : subscribed) {
            session->conn_.heartbeat();
        }
    }
    closeIdleSessions();
}

void HttpServer::closeIdleSessions() {
    if (idleTimeoutMs_ <= 0) {
        return;
    }
    Lock lock(core_->mutex);
    const qint64 now = core_->clock();
    std::vector<HttpSessionPtr> idle;
    for (const auto& [socket, session] : sessions_) {
        if (now < session->lastActivity_) {
            session->lastActivity_ = now; // the clock stepped back
        }
        if (session->isWebSocket() || session->conn_.unanswered() > 0 ||
            socket->bytesToWrite() > 0 || now - session->lastActivity_ < idleTimeoutMs_) {
            continue;
        }
        idle.push_back(session);
    }
    for (const HttpSessionPtr& session : idle) {
        qDebug().noquote() << "http idle connection closed, peer" << session->peerAddress();
        session->close();
    }
}

} // namespace kohttp::qt
