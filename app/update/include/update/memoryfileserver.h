// Public: the in-memory file server. Terminals fetch update payloads and
// per-address runners from it over HTTP; the program routes GET "/" of its
// HTTP server (kohttp_qt) to instance() as a prefix handler.
#pragma once

#include <kohttp/http_router.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QMutex>
#include <QString>

#include <map>

class UpdateProgressObserver;

class MemoryFileServer : public kohttp::HttpHandler {
    Q_DECLARE_TR_FUNCTIONS(MemoryFileServer)
public:
    // The port the program serves it on; container runners carry it in their URLs.
    static constexpr quint16 kHttpPort = 18835;

    // The process-wide server, created on first use. Tests may make their own.
    static MemoryFileServer& instance();

    MemoryFileServer() = default;
    MemoryFileServer(const MemoryFileServer&) = delete;
    MemoryFileServer& operator=(const MemoryFileServer&) = delete;

    // Adds the file, or replaces the content type and content of that path.
    // Paths are compared byte for byte; files are never removed.
    void addFile(const QString& path, const QString& contentType, const QByteArray& content);

    // Takes every path below its route.
    bool isPrefix() const override { return true; }
    // Answers one request of the Qt server: the file at the request's path,
    // whole or its ranges (206, or 416), or 404 "Not found". Every request is
    // reported to the progress observer as a terminal fetching its update.
    void handle(const kohttp::HttpEventPtr& event) override;

    // Whoever follows update progress (the open update dialog); null when
    // nobody does. Called on the thread of the HTTP sockets.
    void setProgressObserver(UpdateProgressObserver* observer);

private:
    struct File {
        QByteArray contentType;
        QByteArray data;
    };

    QMutex mutex_;
    std::map<QByteArray, File> files_;
    UpdateProgressObserver* observer_ = nullptr;
};
