// The businesses behind the requests terminals send.
#include "update/keyexchange.h"
#include "update/murloserver.h"

#include <QDebug>

using namespace murlo;

namespace {

class KeyExchangeBusiness : public IBusiness<KUB_KeyExchangeReq, KUB_KeyExchangeResp> {
public:
    BusinessOutcome run(const MurloSessionPtr& session, const KUB_KeyExchangeReq& request,
                        KUB_KeyExchangeResp& response) override {
        qDebug() << "exchange key";
        if (request.key.size() != kKeyBytes)
            return {}; // empty key back, the session stays plain
        const QByteArray x = secretExponent();
        if (x.isEmpty())
            return {true, QStringLiteral("no random bytes from the system: session of %1 stays "
                                         "unencrypted")
                              .arg(session->peer)};
        const KeyAgreement k = agree(request.key, x);
        response.key = k.reply;
        session->pendingKey = k.sessionKey;
        return {};
    }
};

class LoginBusiness : public IBusiness<KUB_LoginReq, KUB_LoginResp> {
public:
    BusinessOutcome run(const MurloSessionPtr& session, const KUB_LoginReq& request,
                        KUB_LoginResp& response) override {
        MurloLogin& login = session->login;
        login.did = request.did;
        login.strings = request.first;
        login.flag = request.flag;
        login.strings += request.second.mid(0, 7);
        login.arch = request.arch();
        login.type = request.type();
        login.loggedIn = true;
        qDebug().noquote() << "login from" << session->peer << "did" << login.did << "arch"
                           << login.arch << "type" << login.type;
        response.result = 1;
        return {};
    }
};

class PingBusiness : public IBusiness<KUB_PingReq, KUB_PingResp> {
public:
    explicit PingBusiness(MurloServer& server) : server_(server) {}
    BusinessOutcome run(const MurloSessionPtr& session, const KUB_PingReq&,
                        KUB_PingResp&) override {
        session->lastPingAt = server_.now();
        return {};
    }

private:
    MurloServer& server_;
};

class ListAppBusiness : public IBusiness<KUB_ListAppReq, KUB_ListAppResp> {
public:
    explicit ListAppBusiness(KubBundle* bundle) : bundle_(bundle) {}
    BusinessOutcome run(const MurloSessionPtr& session, const KUB_ListAppReq&,
                        KUB_ListAppResp& response) override {
        qDebug() << "list app requested";
        const MurloLogin& login = session->login;
        if (!login.loggedIn) {
            response.code = 400;
            response.message = "you are not logged-in";
            return {};
        }
        qDebug().noquote() << "list apps from" << login.did << "arch" << login.arch << "type"
                           << login.type;
        const QString& ip = session->localIp;
        const BundleSnapshotPtr snap = bundle_->snapshot();
        for (const BundleEntry& e : snap->entries) {
            if (e.arch != login.arch || e.type != login.type)
                continue;
            KUB_AppInfo a;
            a.fileId = e.id;
            a.name = e.name;
            a.version = e.version;
            a.md5 = e.md5(ip);
            a.size = quint32(e.size(ip));
            a.time = 0;
            a.desc = e.desc;
            qDebug().noquote() << "  - file_id" << a.fileId << "name" << a.name << "size" << a.size
                               << "time" << 0 << "version" << a.version << "md5" << a.md5 << "desc"
                               << a.desc;
            response.apps << a;
        }
        response.code = 200;
        if (response.apps.size() > KUB_ListAppResp::kMaxApps)
            return {true, QStringLiteral("%1 packages suit %2, the list carries the first %3")
                              .arg(response.apps.size())
                              .arg(QString::fromUtf8(login.did))
                              .arg(KUB_ListAppResp::kMaxApps)};
        return {};
    }

private:
    KubBundle* bundle_;
};

class DownloadBusiness : public IBusiness<KUB_DownloadFileReq, KUB_DownloadFileResp> {
public:
    explicit DownloadBusiness(KubBundle* bundle) : bundle_(bundle) {}
    BusinessOutcome run(const MurloSessionPtr& session, const KUB_DownloadFileReq& request,
                        KUB_DownloadFileResp& response) override {
        if (!session->login.loggedIn) {
            response.code = 400;
            response.message = "you are not logged in";
            return {};
        }
        const BundleSnapshotPtr snap = bundle_->snapshot();
        const std::optional<QByteArray> content =
            snap->contentFor(qint32(request.fileId), session->localIp);
        if (!content) {
            response.code = 404;
            response.message = "file does not exist";
            return {};
        }
        response.code = 200;
        response.size = quint32(content->size());
        bundle_->startTransfer(session, request.fileId, snap);
        return {};
    }

private:
    KubBundle* bundle_;
};

class FinishBusiness : public IBusiness<KUB_FinishDownloadFileReq, KUB_FinishDownloadFileResp> {
public:
    BusinessOutcome run(const MurloSessionPtr&, const KUB_FinishDownloadFileReq&,
                        KUB_FinishDownloadFileResp&) override {
        return {};
    }
};

template <class Req, class Resp>
std::unique_ptr<IMurloHandler> handler(quint32 responseCommand,
                                       std::unique_ptr<IBusiness<Req, Resp>> business) {
    return std::make_unique<AbstractBusinessHandler<Req, Resp>>(responseCommand,
                                                                std::move(business));
}

} // namespace

void installMurloHandlers(MurloServer& server,
                          std::map<quint32, std::unique_ptr<IMurloHandler>>& handlers) {
    handlers[KeyExchange] = handler<KUB_KeyExchangeReq, KUB_KeyExchangeResp>(
        KeyExchange, std::make_unique<KeyExchangeBusiness>());
    handlers[LoginReq] =
        handler<KUB_LoginReq, KUB_LoginResp>(LoginResp, std::make_unique<LoginBusiness>());
    handlers[PingReq] =
        handler<KUB_PingReq, KUB_PingResp>(PingResp, std::make_unique<PingBusiness>(server));
    handlers[ListAppReq] = handler<KUB_ListAppReq, KUB_ListAppResp>(
        ListAppResp, std::make_unique<ListAppBusiness>(server.bundle()));
    handlers[DownloadFileReq] = handler<KUB_DownloadFileReq, KUB_DownloadFileResp>(
        DownloadFileResp, std::make_unique<DownloadBusiness>(server.bundle()));
    handlers[FinishDownloadFileReq] =
        handler<KUB_FinishDownloadFileReq, KUB_FinishDownloadFileResp>(
            FinishDownloadFileResp, std::make_unique<FinishBusiness>());
}
