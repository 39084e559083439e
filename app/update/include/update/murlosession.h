// Public: one terminal connection of the file-transfer server, and the message that
// carries a frame to it across threads.
#pragma once

#include "update/rc4rng.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QTcpSocket;

struct MurloLogin {
    bool loggedIn = false;
    QByteArray did;
    QList<QByteArray> strings; // the other login strings, in order
    quint8 flag = 0;
    QByteArray arch;
    QByteArray type;
};

class MurloOutbox;

// Shared by reference count between the server, queued messages and the bundle's
// transfer table. The identity fields are fixed at accept and may be read from any
// thread; the protocol state belongs to the server's thread; the counters and the
// closed flag are atomic.
class MurloSession {
public:
    MurloSession(const QObject* owner, std::shared_ptr<MurloOutbox> outbox, QTcpSocket* socket,
                 QString peer, QString localIp, qint64 connectedAt);

    const QObject* const owner; // the server that accepted it
    // Where other threads leave frames and close requests for this session.
    const std::shared_ptr<MurloOutbox> outbox;
    const QString peer;    // "address:port" of the terminal
    const QString localIp; // dotted IPv4 on which the terminal reached us

    // Server thread only.
    QTcpSocket* socket;
    QByteArray buffer; // received, decrypted, not yet a whole frame
    std::unique_ptr<tesmo::RNG> receiveRng;
    std::unique_ptr<tesmo::RNG> sendRng;
    QByteArray pendingKey; // set by the key exchange, used after its reply went out
    MurloLogin login;
    qint64 connectedAt;
    qint64 lastPingAt = 0;
    bool encrypted = false;

    // Any thread.
    bool isClosed() const { return closed_.load(std::memory_order_acquire); }
    void markClosed() { closed_.store(true, std::memory_order_release); }
    // Output not yet handed to the system: chunks on their way to the server's
    // thread plus the socket's own buffer.
    qint64 unsentBytes() const { return queuedBytes.load() + socketBacklog.load(); }
    std::atomic<qint64> queuedBytes{0};
    std::atomic<qint64> socketBacklog{0};

private:
    std::atomic<bool> closed_{false};
};

using MurloSessionPtr = std::shared_ptr<MurloSession>;
using MurloSessionList = QVector<MurloSessionPtr>;

// A frame for one session: command, sequence value and marshalled body.
struct MurloMessage {
    MurloSessionPtr session;
    quint32 command = 0;
    quint32 sequence = 0;
    QByteArray payload;
};

// A piece of a package pushed to a session (command 3003): length bytes of content
// from offset.
struct MurloChunk {
    MurloSessionPtr session;
    qint32 fileId = 0;
    qint64 offset = 0;
    int length = 0;
    QByteArray content;
};

// Chunks and close requests from other threads (the bundle's pump on the GUI
// thread) for the sessions of one server. Handing them over under a mutex rather
// than as queued signal arguments keeps one wake-up per batch instead of one event
// per frame, and makes the hand-over visible to the thread sanitizer.
class MurloOutbox {
public:
    struct Batch {
        std::vector<MurloChunk> chunks;
        MurloSessionList closing;
        bool empty() const { return chunks.empty() && closing.isEmpty(); }
    };

    // Thread-safe.
    void post(MurloChunk chunk);
    void close(MurloSessionPtr session);
    Batch take();
    // Called, with the outbox locked, when it turns from empty to not empty.
    void setWake(std::function<void()> wake);

private:
    void wakeLocked(bool wasEmpty);
    std::mutex mutex_;
    Batch pending_;
    std::function<void()> wake_;
};

Q_DECLARE_METATYPE(MurloMessage)
Q_DECLARE_METATYPE(MurloSessionList)

// Registers MurloMessage and MurloSessionList for queued signals; safe to repeat.
void registerMurloTypes();
