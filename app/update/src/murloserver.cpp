#include "update/murloserver.h"

#include <kohttp/qt/socket_write.h>

#include <QDateTime>
#include <QHostAddress>
#include <QMetaObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstring>

MurloSession::MurloSession(const QObject* owner, std::shared_ptr<MurloOutbox> outbox,
                           QTcpSocket* socket, QString peer, QString localIp, qint64 connectedAt)
    : owner(owner), outbox(std::move(outbox)), peer(std::move(peer)), localIp(std::move(localIp)),
      socket(socket), connectedAt(connectedAt) {}

void MurloOutbox::wakeLocked(bool wasEmpty) {
    if (wasEmpty && wake_)
        wake_();
}

void MurloOutbox::post(MurloChunk chunk) {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool wasEmpty = pending_.empty();
    pending_.chunks.push_back(std::move(chunk));
    wakeLocked(wasEmpty);
}

void MurloOutbox::close(MurloSessionPtr session) {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool wasEmpty = pending_.empty();
    pending_.closing << std::move(session);
    wakeLocked(wasEmpty);
}

MurloOutbox::Batch MurloOutbox::take() {
    std::lock_guard<std::mutex> lock(mutex_);
    Batch b;
    std::swap(b, pending_);
    return b;
}

void MurloOutbox::setWake(std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_ = std::move(wake);
}

void registerMurloTypes() {
    qRegisterMetaType<MurloMessage>("MurloMessage");
    qRegisterMetaType<MurloSessionList>("MurloSessionList");
}

QString dottedIPv4(const QHostAddress& address) {
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}

namespace {

MurloServer* g_instance = nullptr;

// Bytes a connection may have read ahead of the frames it has delivered; Qt stops
// reading from the socket when this is full, so a flood waits in the kernel.
constexpr qint64 kReadBufferBytes = 4 * (murlo::kMaxIncomingPayload + murlo::kHeaderSize);

} // namespace

MurloServer* MurloServer::instance() {
    if (!g_instance)
        g_instance = new MurloServer;
    return g_instance;
}

void MurloServer::destroyInstance() {
    delete g_instance;
    g_instance = nullptr;
}

MurloServer::MurloServer(KubBundle* bundle, Clock clock)
    : bundle_(bundle), clock_(clock ? std::move(clock) : Clock(&QDateTime::currentMSecsSinceEpoch)),
      priv_(std::make_unique<MurloPrivate>()), outbox_(std::make_shared<MurloOutbox>()) {
    registerMurloTypes();
    installMurloHandlers(*this, handlers_);
    thread_.setObjectName(QStringLiteral("murlo"));
    moveToThread(&thread_);
    connect(priv_.get(), &MurloPrivate::start, this, &MurloServer::doStart, Qt::QueuedConnection);
    connect(priv_.get(), &MurloPrivate::stop, this, &MurloServer::doStop, Qt::QueuedConnection);
    connect(priv_.get(), &MurloPrivate::message, this, &MurloServer::doSendMessage,
            Qt::QueuedConnection);
    // Invoked by name, so the call object is made inside Qt rather than by the
    // posting thread's code for the server's thread to read.
    outbox_->setWake(
        [this] { QMetaObject::invokeMethod(this, "drainOutbox", Qt::QueuedConnection); });
    thread_.start(QThread::InheritPriority);
}

MurloServer::~MurloServer() {
    outbox_->setWake({});
    if (thread_.isRunning()) {
        QMetaObject::invokeMethod(this, "doStop", Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    }
    std::lock_guard<std::mutex> lock(stopped_);
}

void MurloServer::doStart(quint16 port) {
    if (listener_ && listener_->isListening())
        return;
    delete listener_;
    listener_ = new QTcpServer(this);
    if (!listener_->listen(QHostAddress::Any, port)) {
        qWarning() << "Failed to bind tcp port" << port;
        delete listener_;
        listener_ = nullptr;
        return;
    }
    qDebug() << "Server started on tcp port" << listener_->serverPort();
    connect(listener_, &QTcpServer::newConnection, this, &MurloServer::newConnection);
    checkTimer_ = new QTimer(this);
    checkTimer_->setInterval(kCheckIntervalMs);
    connect(checkTimer_, &QTimer::timeout, this, &MurloServer::onTimerCheck);
    checkTimer_->start();
    port_ = listener_->serverPort();
    emit listening(port_);
}

void MurloServer::doStop() {
    delete checkTimer_;
    checkTimer_ = nullptr;
    if (listener_) {
        listener_->close();
        delete listener_;
        listener_ = nullptr;
    }
    for (const MurloSessionPtr& s : qAsConst(sessions_)) {
        s->markClosed();
        s->socket->disconnect(this);
        s->socket->deleteLater();
        s->socket = nullptr;
    }
    sessions_.clear();
    sessionCount_ = 0;
    port_ = 0;
    std::lock_guard<std::mutex> lock(stopped_);
}

void MurloServer::newConnection() {
    while (listener_ && listener_->hasPendingConnections()) {
        QTcpSocket* socket = listener_->nextPendingConnection();
        const QString peer =
            QStringLiteral("%1:%2").arg(dottedIPv4(socket->peerAddress())).arg(socket->peerPort());
        if (sessions_.size() >= kMaxSessions) {
            qWarning().noquote() << "refusing connection from" << peer << ":" << kMaxSessions
                                 << "sessions are open";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setReadBufferSize(kReadBufferBytes);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto session = std::make_shared<MurloSession>(this, outbox_, socket, peer,
                                                      dottedIPv4(socket->localAddress()), now());
        sessions_.insert(socket, session);
        sessionCount_ = sessions_.size();
        qDebug().noquote() << "Client connected from" << peer << "socket" << socket << "session"
                           << session.get();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { receive(socket); });
        connect(socket, &QAbstractSocket::errorOccurred, this,
                [socket, peer](QAbstractSocket::SocketError) {
                    qWarning().noquote() << socket->errorString() << "from" << peer;
                });
        std::weak_ptr<MurloSession> weak = session;
        connect(socket, &QAbstractSocket::disconnected, this, [this, weak] {
            if (MurloSessionPtr s = weak.lock())
                removeSession(s);
        });
        connect(socket, &QIODevice::bytesWritten, this, [weak, socket](qint64) {
            if (MurloSessionPtr s = weak.lock())
                s->socketBacklog = socket->bytesToWrite();
        });
    }
}

void MurloServer::removeSession(const MurloSessionPtr& session) {
    if (session->isClosed() || !session->socket)
        return;
    session->markClosed();
    QTcpSocket* socket = session->socket;
    session->socket = nullptr;
    sessions_.remove(socket);
    sessionCount_ = sessions_.size();
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    emit sessionRemoved();
}

void MurloServer::receive(QTcpSocket* socket) {
    const auto it = sessions_.constFind(socket);
    if (it == sessions_.constEnd()) {
        qWarning() << "socket not found in list";
        socket->readAll();
        return;
    }
    const MurloSessionPtr s = *it;
    QByteArray data = socket->readAll();
    if (s->receiveRng)
        s->receiveRng->apply(data.data(), size_t(data.size()));
    s->buffer.append(data);
    while (!s->isClosed()) {
        murlo::Frame frame;
        const murlo::TakeResult r = murlo::takeFrame(s->buffer, &frame);
        if (r == murlo::TakeResult::NeedMore)
            return;
        if (r == murlo::TakeResult::TooLong) {
            qWarning().noquote() << "frame of" << murlo::readHeader(s->buffer.constData()).length
                                 << "bytes from" << s->peer << "is over the limit of"
                                 << murlo::kMaxIncomingPayload << "; closing the connection";
            removeSession(s);
            return;
        }
        dispatch(s, frame);
        if (!s->pendingKey.isEmpty() && !s->isClosed()) {
            s->receiveRng = std::make_unique<tesmo::RC4RNG>(s->pendingKey);
            s->sendRng = std::make_unique<tesmo::RC4RNG>(s->pendingKey);
            s->pendingKey.clear();
            s->encrypted = true;
            // Whatever followed the exchange in the same read was sent encrypted.
            if (!s->buffer.isEmpty())
                s->receiveRng->apply(s->buffer.data(), size_t(s->buffer.size()));
        }
    }
}

void MurloServer::dispatch(const MurloSessionPtr& session, const murlo::Frame& frame) {
    const auto h = handlers_.find(frame.command);
    if (h == handlers_.end()) {
        qDebug() << "unknown request command" << frame.command;
        return;
    }
    QByteArray response;
    if (h->second->handle(session, frame, &response))
        send(session, h->second->responseCommand(), frame.sequence, response);
}

void MurloServer::send(const MurloSessionPtr& session, quint32 command, quint32 sequence,
                       const QByteArray& payload) {
    QByteArray header;
    murlo::appendHeader(header, murlo::FrameHeader{quint32(payload.size()), command, sequence});
    writeFrame(session,
               {{header.constData(), header.size()}, {payload.constData(), payload.size()}});
}

void MurloServer::writeFrame(const MurloSessionPtr& session,
                             std::initializer_list<std::pair<const char*, qint64>> pieces) {
    if (session->isClosed() || !session->socket)
        return;
    qint64 total = 0;
    for (const auto& p : pieces)
        total += p.second;
    // One pass over every byte: copied into the frame and encrypted on the way.
    QByteArray frame(int(total), Qt::Uninitialized);
    char* out = frame.data();
    for (const auto& p : pieces) {
        if (session->sendRng)
            session->sendRng->apply(p.first, out, size_t(p.second));
        else
            std::memcpy(out, p.first, size_t(p.second));
        out += p.second;
    }
    const qint64 written =
        kohttp::qt::writeThrough(session->socket, frame.constData(), frame.size());
    if (written < frame.size())
        qDebug() << "send error";
    session->socketBacklog = session->socket->bytesToWrite();
}

void MurloServer::doSendMessage(const MurloMessage& message) {
    if (!message.session || message.session->owner != this)
        return;
    send(message.session, message.command, message.sequence, message.payload);
}

void MurloServer::drainOutbox() {
    MurloOutbox::Batch batch = outbox_->take();
    for (const MurloSessionPtr& s : qAsConst(batch.closing))
        if (!s->isClosed()) {
            qDebug().noquote() << "closing" << s->peer << ": the bundle was reloaded";
            removeSession(s);
        }
    for (const MurloChunk& c : batch.chunks) {
        c.session->queuedBytes -= murlo::chunkFrameSize(c.length);
        const murlo::ChunkFrame f = murlo::chunkFrameAround(c.fileId, c.offset, c.length);
        writeFrame(c.session, {{f.head.constData(), f.head.size()},
                               {c.content.constData() + c.offset, c.length},
                               {f.tail.constData(), f.tail.size()}});
    }
}

void MurloServer::onTimerCheck() {
    const qint64 t = now();
    const QList<MurloSessionPtr> all = sessions_.values();
    for (const MurloSessionPtr& s : all) {
        if (s->lastPingAt != 0 && t - s->lastPingAt > kPingTimeoutMs) {
            qDebug() << "user" << 0 << "last_ping_at" << s->lastPingAt << "now" << t
                     << "ping timeout."
                     << "socket" << s->socket << "session" << s.get();
            removeSession(s);
        } else if (!s->login.loggedIn && t - s->connectedAt > kLoginTimeoutMs) {
            qWarning().noquote() << "closing" << s->peer << ": no login within"
                                 << kLoginTimeoutMs / 1000 << "s";
            removeSession(s);
        }
    }
}
