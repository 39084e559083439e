// A file-transfer server on a loopback port of its own, serving a bundle built at
// test time, with the simulated terminal's client running beside the GUI thread.
#pragma once

#include "bundle_fixture.h"
#include "murlo_client.h"
#include "qtapp.h"
#include "update/kubbundle.h"
#include "update/murloserver.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>

#include <atomic>
#include <future>
#include <thread>

namespace fixture {

// Runs f on a thread of its own while this (the GUI) thread keeps its event loop
// going, as the bundle's pump needs; returns f's result.
template <class F> auto offThread(F f) -> decltype(f()) {
    auto task = std::async(std::launch::async, std::move(f));
    while (task.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return task.get();
}

// Lets the event loop run until pred holds; the bound only keeps a broken build from
// hanging, it is not what is tested.
template <class Pred> bool eventually(Pred pred, int boundMs = 30000) {
    QElapsedTimer guard;
    guard.start();
    while (!pred() && guard.elapsed() < boundMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return pred();
}

class MurloTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureQtApp(); }

    void SetUp() override {
        bundle.setAddressSource([] { return QStringList{"127.0.0.1", "10.9.9.9"}; });
        bundle.setPublisher([](const QString&, const QString&, const QByteArray&) {});
        server = std::make_unique<MurloServer>(
            &bundle, [this] { return QDateTime::currentMSecsSinceEpoch() + skew.load(); });
        ASSERT_TRUE(load(standard.build(dir)));
        emit server->priv()->start(0);
        ASSERT_TRUE(eventually([&] { return server->serverPort() != 0; }));
        port = server->serverPort();
    }

    void TearDown() override { server.reset(); }

    bool load(const QString& path) {
        QString error;
        const bool ok = bundle.load(path, &error);
        if (!ok)
            ADD_FAILURE() << error.toStdString();
        return ok;
    }

    // A client connected over IPv4 loopback to the dual-stack listener.
    bool connect(simmurlo::Client& c) {
        std::string why;
        const bool ok = c.connect("127.0.0.1", port, "", &why);
        if (!ok)
            ADD_FAILURE() << why;
        return ok;
    }
    bool connectAndLogin(simmurlo::Client& c, const simmurlo::Identity& who = {}) {
        return connect(c) && c.exchangeKey() && c.login(who);
    }

    BundleDir dir;
    StandardBundle standard;
    KubBundle bundle;
    std::atomic<qint64> skew{0};
    std::unique_ptr<MurloServer> server;
    quint16 port = 0;
};

} // namespace fixture
