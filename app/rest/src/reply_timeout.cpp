#include "rest/reply_timeout.h"

#include <QNetworkReply>

QReplyTimeout::QReplyTimeout(QNetworkReply* reply) : QObject(reply) {}

void QReplyTimeout::onTimeout() {
    auto* reply = qobject_cast<QNetworkReply*>(parent());
    if (reply != nullptr && reply->isRunning()) {
        reply->abort();
        reply->deleteLater();
        emit timeout();
    }
}
