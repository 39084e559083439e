// Public header of kohttp_qt: the HTTP server on Qt sockets (the manager's).
//
// A server lives on the thread that created it (in tesmo-man the GUI thread):
// the listener, the sockets, the heartbeat and, without a worker pool, the
// handlers run there. Methods marked "any thread" may be called from others;
// the signals of HttpServerPrivate carry the slots' work to the server's
// thread. Answers may be completed on any thread: an event sends its response
// when its last holder lets go, and bytes for a connection that is gone are
// dropped.
#pragma once

#include <kohttp/http_connection.h>
#include <kohttp/http_router.h>
#include <kohttp/http_type.h>

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

class QTcpSocket;
class QThreadPool;
class QTimer;

namespace kohttp::qt {

class HttpServer;
class TcpServerEx;

namespace detail {
struct ServerCore; // what sessions and pool tasks share with the server
}

// The manager's message-layer configuration: HttpConfig::manager(), logging
// through Qt's message handler with the source location, and every answer's
// head leaving with its body.
HttpConfigPtr managerConfig();

// Carries a session's writes and its close to the socket's thread.
class HttpSessionPrivate : public QObject {
    Q_OBJECT
signals:
    void sendMessage(const QByteArray& bytes);
    void closeConnection();
};

// One accepted connection. Dynamic property read by the server:
// "access_token" (text), for notifications by token.
class HttpSession : public QObject, public std::enable_shared_from_this<HttpSession> {
    Q_OBJECT
public:
    ~HttpSession() override;

    // Dotted IPv4 for IPv4 peers (also when they reach a dual-stack socket).
    const QString& peerAddress() const { return peerAddress_; }
    quint16 peerPort() const { return peerPort_; }
    bool isWebSocket() const { return conn_.isWebSocket(); }
    QString uri() const { return QString::fromStdString(conn_.uri()); }
    qint64 pingTime() const { return conn_.pingTime(); }
    qint64 pongTime() const { return conn_.pongTime(); }

    // Organisations whose notifications reach this subscriber (any thread).
    void setOrgId(int id);
    int orgId() const;
    void setOrgIds(const QList<int>& ids);
    QList<int> orgIds() const;

    // Any thread: one unfragmented WebSocket frame; closing the connection.
    void sendFrame(int opcode, const QByteArray& payload);
    void close() { conn_.close(); }

    // The socket while the session is served (server thread only).
    QTcpSocket* socket() const { return socket_; }

private:
    friend class HttpServer;
    HttpSession(HttpServer* server, std::shared_ptr<detail::ServerCore> core, QTcpSocket* socket);
    static void release(HttpSession* session);
    HttpConnection::Hooks hooks();
    void readSocket();
    void onBytesWritten();
    void detach();

    HttpServer* server_; // null once the session left the server
    std::shared_ptr<detail::ServerCore> core_;
    QTcpSocket* socket_;
    HttpSessionPrivate d_;
    QString peerAddress_;
    quint16 peerPort_ = 0;
    int orgId_ = 0;
    QList<int> orgIds_;
    qint64 lastActivity_ = 0; // server thread
    HttpConnection conn_;
};

using HttpSessionPtr = std::shared_ptr<HttpSession>;

// Signals that reach the server's slots on its thread from any thread.
class HttpServerPrivate : public QObject {
    Q_OBJECT
signals:
    void start(const QHostAddress& host, quint16 port);
    void stop();
    void websocketNotify(const QString& uri, const QString& message, int orgId);
    void websocketNotifyByToken(const QString& uri, const QByteArray& message,
                                const QString& token);
    void socketSend(QTcpSocket* socket, const QByteArray& bytes);
};

class HttpServer : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<qint64()>;
    using WsHandler =
        std::function<void(const HttpSessionPtr& session, int opcode, const QByteArray& payload)>;

    static constexpr int kDefaultMaxSessions = 1024;
    static constexpr qint64 kDefaultIdleTimeoutMs = 60000;

    // clock gives milliseconds for ping, pong and idle times (the wall clock
    // when empty).
    explicit HttpServer(QObject* parent = nullptr, HttpConfigPtr config = managerConfig(),
                        Clock clock = {});
    ~HttpServer() override;

    HttpServerPrivate* d() const { return d_; }

    // Registers a handler for a method number and path (any thread); false
    // when a regular-expression segment does not compile. The server does not
    // own a handler given by pointer.
    bool route(int method, const QString& path, HttpHandler* handler);
    bool route(int method, const QString& path, HttpHandlerPtr handler);
    bool route(int method, const QString& path, HttpHandlerFunc func);
    void addInterceptor(HttpInterceptor interceptor);

    // Settings; give them before starting.
    void setTlsConfiguration(const QSslConfiguration& tls);
    // Request and WebSocket dispatch run on the pool (it must outlive the
    // server and its sessions). Upgrade requests stay on the server's
    // thread, since the switch must happen before the next bytes are read.
    void setWorkerPool(QThreadPool* pool);
    // Connections beyond the cap are refused; HTTP connections that send
    // nothing for the idle time, with no answer owed or leaving, are closed.
    void setMaxSessions(int max) { maxSessions_ = max; }
    void setIdleTimeout(qint64 ms) { idleTimeoutMs_ = ms; }
    // Delay before accepting again after an accept error (e.g. no
    // descriptors left); Qt stops accepting on such an error.
    void setAcceptRetryDelay(int ms) { acceptRetryMs_ = ms; }

    // WebSocket (any thread): messages of sessions subscribed to uri go to
    // the handler.
    void setWebSocketHandler(const QString& uri, WsHandler handler);
    // Switches the session to WebSocket and lists it under uri (server
    // thread; typically from the route answering the handshake with 101).
    void subscribe(const HttpSessionPtr& session, const QString& uri);

    bool isListening() const { return listener_ != nullptr; }
    quint16 port() const;
    int sessionCount() const;
    // Closes the idle HTTP connections; the 1000 ms timer calls it.
    void closeIdleSessions();

signals:
    void serverStatus(bool started);
    void playStatus(bool playing);
    void sessionConnected(kohttp::qt::HttpSession* session);
    void sessionDisconnected(kohttp::qt::HttpSession* session);

public slots:
    void doStart(const QHostAddress& host, quint16 port);
    void doStop();
    void newConnection();
    void doWebsocketNotify(const QString& uri, const QString& message, int orgId);
    void doWebsocketNotifyByToken(const QString& uri, const QByteArray& message,
                                  const QString& token);
    void doSocketSend(QTcpSocket* socket, const QByteArray& bytes);
    void onWsHbTimer();

private:
    friend class HttpSession;
    void removeSession(QTcpSocket* socket);
    void dropSessions(bool now);

    std::shared_ptr<detail::ServerCore> core_;
    HttpServerPrivate* d_;
    TcpServerEx* listener_ = nullptr;
    QTimer* heartbeat_ = nullptr;
    std::optional<QSslConfiguration> tls_;
    std::map<QTcpSocket*, HttpSessionPtr> sessions_;
    std::map<QString, std::set<HttpSession*>> subscribers_;
    int maxSessions_ = kDefaultMaxSessions;
    qint64 idleTimeoutMs_ = kDefaultIdleTimeoutMs;
    int acceptRetryMs_ = 1000;
};

} // namespace kohttp::qt
