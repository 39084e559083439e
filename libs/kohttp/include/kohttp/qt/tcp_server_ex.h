// Public header of kohttp_qt: the listener of the Qt server, plain or TLS.
#pragma once

#include <QSslConfiguration>
#include <QTcpServer>

#include <optional>

namespace kohttp::qt {

// A QTcpServer whose connections use TLS when it has a configuration: each
// accepted descriptor becomes a QSslSocket in server mode that ignores
// certificate errors (logging them). Without one it is a plain QTcpServer.
class TcpServerEx : public QTcpServer {
    Q_OBJECT
public:
    explicit TcpServerEx(std::optional<QSslConfiguration> tls = std::nullopt,
                         QObject* parent = nullptr);

protected:
    void incomingConnection(qintptr fd) override;

private:
    std::optional<QSslConfiguration> tls_;
};

} // namespace kohttp::qt
