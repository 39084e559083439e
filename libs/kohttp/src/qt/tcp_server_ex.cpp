#include <kohttp/qt/tcp_server_ex.h>

#include <QDebug>
#include <QSslError>
#include <QSslSocket>
#include <QStringList>

namespace kohttp::qt {

TcpServerEx::TcpServerEx(std::optional<QSslConfiguration> tls, QObject* parent)
    : QTcpServer(parent), tls_(std::move(tls)) {}

void TcpServerEx::incomingConnection(qintptr fd) {
    if (!tls_) {
        QTcpServer::incomingConnection(fd);
        return;
    }
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(fd)) {
        qWarning("QSslSocket::setSocketDescriptor(fd) failed");
        delete socket;
        return;
    }
    socket->setSslConfiguration(*tls_);
    // Terminals present no certificate we could check; errors are logged and
    // the connection goes on.
    socket->ignoreSslErrors();
    connect(socket, &QSslSocket::peerVerifyError, socket, [](const QSslError& error) {
        qWarning().noquote() << "QSslSocket::peerVerifyError" << error.errorString();
    });
    connect(socket, qOverload<const QList<QSslError>&>(&QSslSocket::sslErrors), socket,
            [socket](const QList<QSslError>& errors) {
                QStringList texts;
                for (const QSslError& error : errors) {
                    texts << error.errorString();
                }
                qWarning().noquote() << "QSslSocket::sslErrors"
                                     << "(" + texts.join(QStringLiteral(", ")) + ")";
                socket->ignoreSslErrors();
            });
    addPendingConnection(socket);
    socket->startServerEncryption();
}

} // namespace kohttp::qt
