#include "shell/single_application.h"

#include <QDebug>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTextStream>
#include <QWidget>

namespace tesmo {

SingleApplication::SingleApplication(int& argc, char** argv)
    : QApplication(argc, argv), serverName_(QStringLiteral("tesmo-man")) {
    connectOrListen();
}

SingleApplication::~SingleApplication() = default;

void SingleApplication::connectOrListen() {
    {
        QLocalSocket socket;
        socket.connectToServer(serverName_, QIODevice::ReadWrite);
        if (socket.waitForConnected(500)) {
            qDebug() << "连接到了";
            isRunning_ = true;
            const QStringList args = arguments();
            QTextStream stream(&socket);
            stream.setCodec("UTF-8");
            stream << (args.size() >= 2 ? args.last() : QString());
            stream.flush();
            socket.waitForBytesWritten(30000);
            return;
        }
    }
    localServer_ = new QLocalServer(this);
    connect(localServer_, &QLocalServer::newConnection, this,
            &SingleApplication::newLocalConnection);
    if (!localServer_->listen(serverName_) &&
        localServer_->serverError() == QAbstractSocket::AddressInUseError) {
        // A crashed instance left its socket name behind.
        QLocalServer::removeServer(serverName_);
        localServer_->listen(serverName_);
    }
}

void SingleApplication::newLocalConnection() {
    QLocalSocket* socket = localServer_->nextPendingConnection();
    if (!socket)
        return;
    socket->waitForReadyRead(1000);
    if (window_) {
        window_->showNormal();
        window_->show();
        // Window managers may refuse focus to a background process; raising
        // still brings it to the front.
        window_->raise();
        window_->activateWindow();
    }
    socket->deleteLater();
}

} // namespace tesmo
