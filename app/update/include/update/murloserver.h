// Public: the file-transfer server terminals download packages from (TCP 9208).
// It runs on a thread of its own; other threads reach it through the signals of
// MurloPrivate or the thread-safe methods marked so.
#pragma once

#include "update/kubbundle.h"
#include "update/murlo_wire.h"
#include "update/murlosession.h"

#include <QDebug>
#include <QHash>
#include <QObject>
#include <QThread>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>

class QHostAddress;
class QTcpServer;
class QTcpSocket;
class QTimer;

// Dotted IPv4 text of an address, also for IPv4 seen through a dual-stack socket
// (::ffff:a.b.c.d); other IPv6 addresses keep their own text.
QString dottedIPv4(const QHostAddress& address);

// What a business asks of its handler: whether to send the response, and an error
// text to log as a warning.
struct BusinessOutcome {
    bool respond = true;
    QString error;
};

// The work behind one request type.
template <class Req, class Resp> class IBusiness {
public:
    virtual ~IBusiness() = default;
    virtual BusinessOutcome run(const MurloSessionPtr& session, const Req& request,
                                Resp& response) = 0;
};

class IMurloHandler {
public:
    virtual ~IMurloHandler() = default;
    // Handles one request frame; true with the response body when one is to be sent.
    virtual bool handle(const MurloSessionPtr& session, const murlo::Frame& frame,
                        QByteArray* response) = 0;
    virtual quint32 responseCommand() const = 0;
};

// Unmarshals the request, runs the business, marshals its response.
template <class Req, class Resp> class AbstractBusinessHandler : public IMurloHandler {
public:
    AbstractBusinessHandler(quint32 responseCommand, std::unique_ptr<IBusiness<Req, Resp>> business)
        : responseCommand_(responseCommand), business_(std::move(business)) {}

    bool handle(const MurloSessionPtr& session, const murlo::Frame& frame,
                QByteArray* response) override {
        Req request;
        murlo::unmarshal(frame.payload, &request);
        Resp resp;
        const BusinessOutcome outcome = business_->run(session, request, resp);
        if (!outcome.error.isEmpty())
            qWarning().noquote() << outcome.error;
        if (!outcome.respond)
            return false;
        *response = murlo::marshal(resp);
        return true;
    }
    quint32 responseCommand() const override { return responseCommand_; }

private:
    quint32 responseCommand_;
    std::unique_ptr<IBusiness<Req, Resp>> business_;
};

// Lives on the caller's thread; its signals reach the server's slots queued.
class MurloPrivate : public QObject {
    Q_OBJECT
signals:
    void start(quint16 port);
    void stop();
    void message(const MurloMessage& message);
};

class MurloServer : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<qint64()>; // milliseconds since the epoch

    static constexpr int kCheckIntervalMs = 1000;
    static constexpr qint64 kPingTimeoutMs = 30000;
    // A connection that has not logged in by then is not a terminal at work.
    static constexpr qint64 kLoginTimeoutMs = 60000;
    // Updates run one terminal at a time; this leaves room for whole sites that
    // connect on their own schedule, and bounds what strays can hold.
    static constexpr int kMaxSessions = 256;
    static constexpr quint16 kDefaultPort = 9208;

    // The program's server, created on first use; destroyInstance stops it.
    static MurloServer* instance();
    static void destroyInstance();

    // Starts the server's thread. The clock must not be changed afterwards.
    explicit MurloServer(KubBundle* bundle = KubBundle::instance(), Clock clock = {});
    // Stops the server and joins its thread; call from the thread that created it.
    ~MurloServer() override;

    MurloPrivate* priv() const { return priv_.get(); }
    KubBundle* bundle() const { return bundle_; }
    qint64 now() const { return clock_(); }

    // Thread-safe.
    quint16 serverPort() const { return port_.load(); } // 0 while not listening
    int sessionCount() const { return sessionCount_.load(); }

    // Server thread: sends one frame on a session.
    void send(const MurloSessionPtr& session, quint32 command, quint32 sequence,
              const QByteArray& payload);

public slots:
    void doStart(quint16 port);
    void doStop();
    void doSendMessage(const MurloMessage& message);

signals:
    // Emitted on the server's thread.
    void listening(quint16 port);
    void sessionRemoved();

private slots:
    void newConnection();
    void onTimerCheck();
    // Sends and closes what other threads left in the outbox.
    void drainOutbox();

private:
    void receive(QTcpSocket* socket);
    // Sends the pieces as one frame, encrypted when the session is.
    void writeFrame(const MurloSessionPtr& session,
                    std::initializer_list<std::pair<const char*, qint64>> pieces);
    void dispatch(const MurloSessionPtr& session, const murlo::Frame& frame);
    void removeSession(const MurloSessionPtr& session);

    KubBundle* bundle_;
    Clock clock_;
    std::unique_ptr<MurloPrivate> priv_;
    std::shared_ptr<MurloOutbox> outbox_;
    // Taken at the end of doStop and by the destructor after it: what the server's
    // thread did is then ordered before the members are destroyed.
    std::mutex stopped_;
    std::map<quint32, std::unique_ptr<IMurloHandler>> handlers_;
    QHash<QTcpSocket*, MurloSessionPtr> sessions_;
    QTcpServer* listener_ = nullptr;
    QTimer* checkTimer_ = nullptr;
    std::atomic<quint16> port_{0};
    std::atomic<int> sessionCount_{0};
    QThread thread_;
};

// Fills the handler table: 101, 1001, 1003, 2001, 3001 and 3005.
void installMurloHandlers(MurloServer& server,
                          std::map<quint32, std::unique_ptr<IMurloHandler>>& handlers);
