// Public: writing to a plain (not TLS) TCP connection without waiting for Qt's next
// loop pass and without Qt's copy of bytes the system takes at once. Used by the HTTP
// server on Qt sockets and by the file-transfer server. sendNow is implemented once
// per platform.
#pragma once

#include <QAbstractSocket>
#include <QtGlobal>

namespace kohttp::qt {

// Sends what the system takes now without waiting; returns that count (0
// when it takes nothing or the connection failed, whose error Qt's own write
// path then reports).
qint64 sendNow(qintptr fd, const char* data, qint64 len);

// Writes len bytes to a plain socket, keeping their order: with nothing queued in Qt's
// buffer they leave now, in one call, and only what the system does not take waits in
// Qt's buffer. Returns what QIODevice::write would (len, or -1).
inline qint64 writeThrough(QAbstractSocket* socket, const char* data, qint64 len) {
    qint64 sent = 0;
    if (socket->bytesToWrite() == 0)
        sent = sendNow(socket->socketDescriptor(), data, len);
    if (sent < len && socket->write(data + sent, len - sent) < 0)
        return -1;
    return len;
}

} // namespace kohttp::qt
