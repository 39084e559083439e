// QReplyTimeout: a child of one network reply that aborts it when its timer
// expires while the reply is still running.
#pragma once

#include <QObject>

class QNetworkReply;

class QReplyTimeout : public QObject {
    Q_OBJECT

public:
    // The reply becomes the parent; the object dies with it.
    explicit QReplyTimeout(QNetworkReply* reply);

signals:
    // Emitted after onTimeout aborted the running reply.
    void timeout();

private slots:
    // Aborts the parent reply when it is still running, schedules its deletion and emits
    // timeout. Aborting makes the reply finish with an error.
    void onTimeout();
};
