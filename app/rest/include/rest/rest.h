// The REST client: terminal REST calls on Qt's network access manager.
//
// - request<Resp>(host, path, body, session, callback): asynchronous call to
//   "http://<host>:8080<path>" with a 5000 ms time-out; the reply body is decoded into a
//   Resp (ReplyBase or a record derived from it) and the callback runs exactly once on the
//   calling thread's event loop with the record and an error text ("" on success).
// - httpRequest(url, body, headers, replyBody, error): blocking call through a local event
//   loop (other events keep being processed meanwhile), aborted after the same time-out;
//   returns the raw reply body.
//
// Each kind of call uses its own QNetworkAccessManager per thread, created on first use in
// the calling thread without a parent and kept for the life of that thread.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>

#include <QByteArray>
#include <QDebug>
#include <QNetworkReply>
#include <QObject>
#include <QString>

#include "rest/reply_timeout.h"
#include "vo/json.h"

// The reply envelope: "code" (200, success, when absent) and "message".
struct ReplyBase : vo::JsonClient {
    int code = 200;
    std::string message;

    void encode(vo::JsonEncodeVisitor& v) const override {
        v.visit("code", code);
        v.visit("message", message);
    }
    void decode(vo::JsonDecodeVisitor& v) override {
        v.visit("code", code);
        v.visit("message", message);
    }
};

// The completion callback of request<Resp>: the record and the error text ("" = success).
template <typename Resp> using RestCallback = std::function<void(Resp&, const std::string&)>;

// The error text of request<Resp> for any network error (refused, HTTP error, time-out).
inline const char* const kRestNetworkError = "网络超时";

// The time-out of request<Resp> and httpRequest, 5000 ms. The setter exists for tests only.
int requestTimeoutMs();
void setRequestTimeoutMsForTesting(int ms);

namespace rest_detail {

template <typename T> struct NonDeduced { using type = T; };

// Steps 1 to 5 of request: builds the request, sends it through this thread's manager,
// creates the QReplyTimeout child and starts its timer while the reply is running.
QNetworkReply* startRequest(const QString& host, const QString& path, const std::string& body,
                            const std::string& session, QReplyTimeout** timeout);

} // namespace rest_detail

// Asynchronous terminal REST call. An empty body sends a GET, otherwise a POST with
// "Content-Type: application/json"; a non-empty session token is sent as "SESSION".
// logTimeout: log "timeout" at debug level when the time-out aborts the call (the updater's
// calls); the discovery probe passes false.
template <typename Resp>
void request(const QString& host, const QString& path, const std::string& body,
             const std::string& session,
             typename rest_detail::NonDeduced<RestCallback<Resp>>::type callback,
             bool logTimeout = true) {
    static_assert(std::is_base_of_v<ReplyBase, Resp>, "a response record derives from ReplyBase");
    QReplyTimeout* timeout = nullptr;
    QNetworkReply* reply = rest_detail::startRequest(host, path, body, session, &timeout);
    if (logTimeout) {
        QObject::connect(timeout, &QReplyTimeout::timeout, timeout, [] { qDebug() << "timeout"; });
    }
    QObject::connect(
        reply, &QNetworkReply::finished, reply, [reply, callback = std::move(callback)]() {
            reply->deleteLater();
            Resp resp;
            if (reply->error() != QNetworkReply::NoError) {
                callback(resp, kRestNetworkError);
                return;
            }
            const QByteArray data = reply->readAll();
            std::string error;
            if (!vo::fromJson(
                    error, resp,
                    std::string_view(data.constData(), static_cast<std::size_t>(data.size())))) {
                callback(resp, error);
            } else if (resp.code == 200) {
                callback(resp, std::string());
            } else {
                const std::string message = resp.message;
                callback(resp, message);
            }
        });
}

// Blocking call of a complete URL (Latin-1 text). Sets every header of the map, in key
// order; an empty body sends a GET, otherwise a POST with "Content-Type: application/json".
// Returns true with the reply body, or false with the reply's error string (UTF-8). A reply
// still running after requestTimeoutMs() is aborted, which reports "Operation canceled".
bool httpRequest(const std::string& url, const std::string& body,
                 const std::map<std::string, std::string>& headers, std::string& replyBody,
                 std::string& error);
bool httpRequest(const std::string& url, const std::string& body, std::string& replyBody,
                 std::string& error);
