// The REST client.
#include "rest/rest.h"

#include <atomic>

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QThreadStorage>
#include <QTimer>
#include <QUrl>

namespace {

std::atomic<int> gRequestTimeoutMs{5000};

// One manager per thread and kind of call: created on first use in the calling thread,
// without a parent; QThreadStorage deletes it when the thread ends.
QNetworkAccessManager* threadManager(QThreadStorage<QNetworkAccessManager*>& storage) {
    if (!storage.hasLocalData()) {
        storage.setLocalData(new QNetworkAccessManager());
    }
    return storage.localData();
}

QNetworkAccessManager* requestManager() {
    static QThreadStorage<QNetworkAccessManager*> storage;
    return threadManager(storage);
}

QNetworkAccessManager* httpRequestManager() {
    static QThreadStorage<QNetworkAccessManager*> storage;
    return threadManager(storage);
}

QByteArray bytes(const std::string& s) {
    return QByteArray(s.data(), static_cast<int>(s.size()));
}

// GET for an empty body, otherwise POST with the body as JSON.
QNetworkReply* send(QNetworkAccessManager* manager, QNetworkRequest& req, const std::string& body) {
    if (body.empty()) {
        return manager->get(req);
    }
    req.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
    return manager->post(req, bytes(body));
}

} // namespace

int requestTimeoutMs() {
    return gRequestTimeoutMs.load();
}

void setRequestTimeoutMsForTesting(int ms) {
    gRequestTimeoutMs.store(ms);
}

namespace rest_detail {

QNetworkReply* startRequest(const QString& host, const QString& path, const std::string& body,
                            const std::string& session, QReplyTimeout** timeout) {
    // Both substituted in one step: text in host is never read as a place marker.
    const QString url = QStringLiteral("http://%1:8080%2").arg(host, path);
    QNetworkRequest req{QUrl(url)};
    req.setRawHeader("Accept", "*/*");
    if (!session.empty()) {
        req.setRawHeader("SESSION", bytes(session));
    }
    QNetworkReply* reply = send(requestManager(), req, body);
    auto* t = new QReplyTimeout(reply);
    if (reply->isRunning()) {
        QTimer::singleShot(requestTimeoutMs(), t, SLOT(onTimeout()));
    }
    *timeout = t;
    return reply;
}

} // namespace rest_detail

bool httpRequest(const std::string& url, const std::string& body,
                 const std::map<std::string, std::string>& headers, std::string& replyBody,
                 std::string& error) {
    qDebug() << "request" << QString::fromStdString(url) << "body" << QString::fromStdString(body);
    QNetworkRequest req{QUrl(QString::fromLatin1(url.data(), static_cast<int>(url.size())))};
    req.setRawHeader("Accept", "*/*");
    for (const auto& [name, value] : headers) {
        req.setRawHeader(bytes(name), bytes(value));
    }
    QNetworkReply* reply = send(httpRequestManager(), req, body);
    // A terminal that accepts the connection and never answers would otherwise hold the
    // caller (and whatever waits on it) as long as the TCP connection lives.
    auto* timeout = new QReplyTimeout(reply);
    if (reply->isRunning()) {
        QTimer::singleShot(requestTimeoutMs(), timeout, SLOT(onTimeout()));
    }
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) {
        loop.exec();
    }
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        error = reply->errorString().toStdString();
        return false;
    }
    const QByteArray data = reply->readAll();
    replyBody.assign(data.constData(), static_cast<std::size_t>(data.size()));
    return true;
}

bool httpRequest(const std::string& url, const std::string& body, std::string& replyBody,
                 std::string& error) {
    return httpRequest(url, body, {}, replyBody, error);
}
