// The file-transfer server against the simulated terminal's client on loopback.
#include "murlo_fixture.h"

#include <QCryptographicHash>
#include <QHostAddress>

#include <chrono>
#include <thread>

using fixture::BundleDir;
using fixture::eventually;
using fixture::md5;
using fixture::MurloTest;
using fixture::offThread;
using simmurlo::Client;
using simmurlo::Identity;

namespace {

std::vector<std::pair<int64_t, uint32_t>>
chunks(std::initializer_list<std::pair<int64_t, uint32_t>> l) {
    return l;
}

} // namespace

TEST(MurloAddress, DualStackAddressesReadAsDottedIPv4) {
    EXPECT_EQ(dottedIPv4(QHostAddress("::ffff:10.1.2.3")), "10.1.2.3");
    EXPECT_EQ(dottedIPv4(QHostAddress("::ffff:127.0.0.1")), "127.0.0.1");
    EXPECT_EQ(dottedIPv4(QHostAddress("192.168.1.5")), "192.168.1.5");
    EXPECT_EQ(dottedIPv4(QHostAddress("::1")), "::1");
}

TEST_F(MurloTest, KeyExchange) {
    for (size_t keyLength : {size_t(16), size_t(15)}) {
        const auto r = offThread([&] {
            Client c;
            const bool exchanged = connect(c) && c.exchangeKey(keyLength);
            const bool logged = c.login(Identity{});
            const auto list = c.list();
            return std::make_tuple(exchanged, c.encrypted(), logged,
                                   list ? list->apps.size() : 99u);
        });
        EXPECT_TRUE(std::get<0>(r)) << keyLength;
        EXPECT_EQ(std::get<1>(r), keyLength == 16) << "a 15-byte key gets an empty key back";
        EXPECT_TRUE(std::get<2>(r)) << keyLength;
        EXPECT_EQ(std::get<3>(r), 3u) << keyLength;
    }
}

TEST_F(MurloTest, EncryptionStartsWithTheFrameAfterTheKeyReply) {
    // The key reply itself travels in the clear; the client's codec reads it, then the
    // login reply only decodes when the server encrypts from its first header byte.
    const auto r = offThread([&] {
        Client c;
        connect(c);
        const uint32_t seq = c.nextSequence();
        c.sendBytes(c.encode(simmurlo::cmd::keyExchange, seq,
                             simmurlo::keyExchangeBody(std::string(16, '\x07'))));
        const auto reply = c.readFrame();
        return reply && reply->command == simmurlo::cmd::keyExchange && reply->sequence == seq &&
               simmurlo::parseKeyReply(reply->body).value_or("").size() == 16;
    });
    EXPECT_TRUE(r);
}

TEST_F(MurloTest, ListAndDownloadNeedALogin) {
    const auto r = offThread([&] {
        Client c;
        connect(c);
        c.exchangeKey();
        const auto list = c.list();
        const simmurlo::Download d = c.download(1);
        return std::make_tuple(list.value_or(simmurlo::ListReply{}), d.code, d.message);
    });
    EXPECT_EQ(std::get<0>(r).code, 400u);
    EXPECT_EQ(std::get<0>(r).message, "you are not logged-in");
    EXPECT_TRUE(std::get<0>(r).apps.empty());
    EXPECT_EQ(std::get<1>(r), 400u);
    EXPECT_EQ(std::get<2>(r), "you are not logged in");
}

TEST_F(MurloTest, ListFilteredByArchAndType) {
    const struct {
        Identity who;
        std::vector<int64_t> ids;
    } cases[] = {
        {{"T-1", "armv7", "speaker"}, {1, 2, 3}},
        {{"T-2", "aarch64", "speaker"}, {4}},
        {{"T-3", "armv7", "paging"}, {5}},
        {{"T-4", "armv7", "Speaker"}, {}},
    };
    for (const auto& c : cases) {
        const auto list = offThread([&] {
            Client client;
            connectAndLogin(client, c.who);
            return client.list();
        });
        ASSERT_TRUE(list) << c.who.did;
        EXPECT_EQ(list->code, 200u);
        std::vector<int64_t> ids;
        for (const auto& a : list->apps)
            ids.push_back(a.fileId);
        EXPECT_EQ(ids, c.ids) << c.who.did;
        if (c.ids.size() == 3) {
            EXPECT_EQ(list->apps[0].md5, md5(standard.main).toStdString());
            EXPECT_EQ(list->apps[0].size, 200000u);
            EXPECT_EQ(list->apps[1].name, "app-web");
            EXPECT_EQ(list->apps[1].version, "1.0.3");
            EXPECT_EQ(list->apps[1].desc, "Web console");
            EXPECT_EQ(list->apps[1].time, 0u);
            // The container lists the runner of the address the terminal reached us on:
            // 127.0.0.1, although the listener saw ::ffff:127.0.0.1.
            const QByteArray runner = bundle.contentFor(3, "127.0.0.1").value_or("");
            ASSERT_FALSE(runner.isEmpty());
            EXPECT_EQ(list->apps[2].md5, md5(runner).toStdString());
            EXPECT_EQ(list->apps[2].size, uint32_t(runner.size()));
        }
    }
}

TEST_F(MurloTest, DownloadsArriveWholeInChunks) {
    const QByteArray runner = bundle.contentFor(3, "127.0.0.1").value_or("");
    const struct {
        int64_t id;
        QByteArray bytes;
        std::vector<std::pair<int64_t, uint32_t>> chunks;
    } cases[] = {
        {1, standard.main, chunks({{0, 65536}, {65536, 65536}, {131072, 65536}, {196608, 3392}})},
        {2, standard.web, chunks({{0, 65536}, {65536, 65536}, {131072, 18928}})},
        {3, runner, chunks({{0, uint32_t(runner.size())}})},
    };
    for (const auto& c : cases) {
        const simmurlo::Download d = offThread([&] {
            Client client;
            connectAndLogin(client);
            const auto list = client.list();
            std::string listed;
            for (const auto& a : list ? list->apps : std::vector<simmurlo::AppInfo>())
                if (a.fileId == c.id)
                    listed = a.md5;
            simmurlo::Download d = client.download(c.id, listed);
            if (!client.finish(c.id))
                d.error = "no reply to finish";
            return d;
        });
        EXPECT_TRUE(d.ok()) << c.id << ": " << d.error;
        EXPECT_EQ(d.size, uint32_t(c.bytes.size())) << c.id;
        EXPECT_EQ(d.chunks, c.chunks) << c.id;
        EXPECT_EQ(d.md5, md5(c.bytes).toStdString()) << c.id;
        EXPECT_EQ(QByteArray::fromStdString(d.data), c.bytes) << c.id;
    }
}

TEST_F(MurloTest, UnknownPackageIs404) {
    const simmurlo::Download d = offThread([&] {
        Client c;
        connectAndLogin(c);
        return c.download(77);
    });
    EXPECT_EQ(d.code, 404u);
    EXPECT_EQ(d.message, "file does not exist");
}

TEST_F(MurloTest, FramesSplitOrJoinedAreServedInOrder) {
    const auto r = offThread([&] {
        Client c;
        connect(c);
        c.exchangeKey();
        // A login frame in five writes, with pauses so the server reads them apart.
        const std::string login =
            c.encode(simmurlo::cmd::login, 500, simmurlo::loginBody(Identity{}));
        const size_t part = login.size() / 5 + 1;
        for (size_t at = 0; at < login.size(); at += part) {
            c.sendBytes(login.substr(at, part));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const auto loginReply = c.readFrame();
        // Two frames in one write: both answered, in order.
        std::string both = c.encode(simmurlo::cmd::ping, 501, "");
        both += c.encode(simmurlo::cmd::listApps, 502, "");
        c.sendBytes(both);
        const auto first = c.readFrame();
        const auto second = c.readFrame();
        return std::vector<uint32_t>{loginReply ? loginReply->sequence : 0,
                                     first ? first->command : 0, first ? first->sequence : 0,
                                     second ? second->command : 0, second ? second->sequence : 0};
    });
    EXPECT_EQ(r, (std::vector<uint32_t>{500, 1004, 501, 2002, 502}));
}

TEST_F(MurloTest, UnknownCommandGetsNoReply) {
    const auto r = offThread([&] {
        Client c;
        connect(c);
        c.sendBytes(c.encode(4242, 600, "abc"));
        c.sendBytes(c.encode(simmurlo::cmd::ping, 601, ""));
        const auto f = c.readFrame();
        return f ? f->sequence : 0;
    });
    EXPECT_EQ(r, 601u) << "the ping is the first reply";
}

TEST_F(MurloTest, OverlongFrameClosesTheConnection) {
    for (uint32_t length : {murlo::kMaxIncomingPayload + 1, 0xFFFFFFF0u}) {
        const bool closed = offThread([&] {
            Client c;
            connect(c);
            std::string header;
            simmurlo::putU32(header, length);
            simmurlo::putU32(header, simmurlo::cmd::login);
            simmurlo::putU32(header, 1);
            c.sendBytes(header + std::string(1000, 'x'));
            return c.waitClosed(20000);
        });
        EXPECT_TRUE(closed) << length;
    }
    EXPECT_TRUE(eventually([&] { return server->sessionCount() == 0; }));
}

TEST_F(MurloTest, SessionsBeyondTheCapAreRefused) {
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < MurloServer::kMaxSessions; ++i) {
        clients.push_back(std::make_unique<Client>());
        ASSERT_TRUE(connect(*clients.back()));
    }
    ASSERT_TRUE(eventually([&] { return server->sessionCount() == MurloServer::kMaxSessions; }));
    const bool refused = offThread([&] {
        Client extra;
        connect(extra);
        return extra.waitClosed(20000);
    });
    EXPECT_TRUE(refused);
    clients.pop_back();
    EXPECT_TRUE(
        eventually([&] { return server->sessionCount() == MurloServer::kMaxSessions - 1; }));
    const bool served = offThread([&] {
        Client again;
        return connect(again) && again.ping();
    });
    EXPECT_TRUE(served) << "a place that frees up is taken again";
}

TEST_F(MurloTest, SilentSessionsAreDropped) {
    Client pingedLong, pingedRecently, neverLoggedIn, loggedInNoPing;
    ASSERT_TRUE(offThread([&] {
        return connectAndLogin(pingedLong) && pingedLong.ping() && connect(neverLoggedIn) &&
               connectAndLogin(loggedInNoPing);
    }));
    skew = 10000;
    ASSERT_TRUE(
        offThread([&] { return connectAndLogin(pingedRecently) && pingedRecently.ping(); }));
    ASSERT_EQ(server->sessionCount(), 4);

    // 31 s after the first ping, 21 s after the second; 31 s without a login.
    skew = 31000;
    EXPECT_TRUE(offThread([&] { return pingedLong.waitClosed(20000); }));
    EXPECT_TRUE(eventually([&] { return server->sessionCount() == 3; }));
    EXPECT_TRUE(offThread([&] { return pingedRecently.list() && loggedInNoPing.list(); }))
        << "21 s after a ping, and logged in without pinging";

    skew = MurloServer::kLoginTimeoutMs + 1000;
    EXPECT_TRUE(offThread([&] { return neverLoggedIn.waitClosed(20000); }));
    EXPECT_TRUE(offThread([&] { return pingedRecently.waitClosed(20000); }));
    EXPECT_TRUE(offThread([&] { return loggedInNoPing.list().has_value(); }))
        << "a terminal that logged in and never pings is not timed out";
}

TEST_F(MurloTest, ReloadDuringADownloadClosesThatSession) {
    BundleDir big;
    big.member("big.bin", fixture::pattern(8 * 1024 * 1024, 11));
    big.index("1,armv7,speaker,big,1,big.bin,d\n");
    ASSERT_TRUE(load(big.build()));
    auto task = std::async(std::launch::async, [&] {
        Client c;
        connectAndLogin(c);
        return c.download(1);
    });
    ASSERT_TRUE(eventually([&] { return bundle.transferCount() == 1; }));
    ASSERT_TRUE(load(dir.build("again.tar")));
    const simmurlo::Download d = offThread([&] { return task.get(); });
    EXPECT_FALSE(d.ok());
    EXPECT_NE(d.error.find("closed"), std::string::npos) << d.error;
    EXPECT_LT(d.data.size(), size_t(8 * 1024 * 1024));
    EXPECT_TRUE(eventually([&] { return server->sessionCount() == 0; }));
}

TEST_F(MurloTest, FiftySessionsDownloadAtOnce) {
    constexpr int sessions = 50;
    std::vector<simmurlo::Download> results(sessions);
    offThread([&] {
        std::vector<std::thread> threads;
        for (int i = 0; i < sessions; ++i)
            threads.emplace_back([&, i] {
                Client c;
                if (!connectAndLogin(c, Identity{"T-" + std::to_string(i), "armv7", "speaker"}))
                    return;
                const auto list = c.list();
                if (!list || list->apps.size() != 3)
                    return;
                const auto& app = list->apps[size_t(i % 3)];
                results[size_t(i)] = c.download(app.fileId, app.md5);
            });
        for (std::thread& t : threads)
            t.join();
        return 0;
    });
    for (int i = 0; i < sessions; ++i)
        EXPECT_TRUE(results[size_t(i)].ok()) << i << ": " << results[size_t(i)].error;
}

TEST_F(MurloTest, ListsWhileTheBundleIsReloaded) {
    // Handlers read the published snapshot while the GUI thread replaces it.
    std::atomic<bool> stop{false};
    std::atomic<int> lists{0}, wrong{0};
    auto readers = std::async(std::launch::async, [&] {
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i)
            threads.emplace_back([&] {
                Client c;
                if (!connectAndLogin(c))
                    return;
                while (!stop) {
                    const auto l = c.list();
                    if (!l || l->code != 200 || (l->apps.size() != 3 && !l->apps.empty()))
                        ++wrong;
                    ++lists;
                }
            });
        for (std::thread& t : threads)
            t.join();
    });
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(load(dir.build(QStringLiteral("r%1.tar").arg(i))));
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(eventually([&] { return lists > 40; }));
    stop = true;
    offThread([&] {
        readers.get();
        return 0;
    });
    EXPECT_EQ(wrong, 0);
}

TEST_F(MurloTest, StopClosesSessionsAndStartListensAgain) {
    Client c;
    ASSERT_TRUE(offThread([&] { return connectAndLogin(c); }));
    emit server->priv()->stop();
    EXPECT_TRUE(offThread([&] { return c.waitClosed(20000); }));
    EXPECT_TRUE(
        eventually([&] { return server->serverPort() == 0 && server->sessionCount() == 0; }));
    emit server->priv()->start(port);
    ASSERT_TRUE(eventually([&] { return server->serverPort() == port; }));
    EXPECT_TRUE(offThread([&] {
        Client again;
        return connectAndLogin(again) && again.list().has_value();
    }));
}

TEST_F(MurloTest, TerminalThatStopsReadingIsNotQueuedFor) {
    const int size = 48 * 1024 * 1024;
    const QByteArray package = fixture::pattern(size, 21);
    BundleDir big;
    big.member("big.bin", package);
    big.index("1,armv7,speaker,big,1,big.bin,d\n");
    ASSERT_TRUE(load(big.build()));
    Client c;
    ASSERT_TRUE(offThread([&] {
        return connectAndLogin(c) &&
               c.sendBytes(c.encode(simmurlo::cmd::download, 700, simmurlo::fileIdBody(1)));
    }));
    // The push runs until the system's buffers and two chunks are full, then waits.
    ASSERT_TRUE(eventually([&] { return bundle.transferCount() == 1; }));
    qint64 last = -1;
    int still = 0;
    bundle.setPumpObserver([&] {
        const qint64 now = bundle.transferOffsets().value(0);
        still = now == last ? still + 1 : 0;
        last = now;
    });
    ASSERT_TRUE(eventually([&] { return still >= 100; }, 120000));
    bundle.setPumpObserver({});
    EXPECT_LT(last, qint64(size));

    // Reading again, the terminal gets the whole package.
    const std::string got = offThread([&] {
        std::string data;
        const auto reply = c.waitFor(simmurlo::cmd::downloadReply);
        while (reply && data.size() < size_t(size)) {
            const auto f = c.waitFor(simmurlo::cmd::chunk);
            const auto chunk = f ? simmurlo::parseChunk(f->body) : std::nullopt;
            if (!chunk || chunk->offset != int64_t(data.size()))
                break;
            data += chunk->data;
        }
        return data;
    });
    EXPECT_EQ(got.size(), size_t(size));
    EXPECT_TRUE(QByteArray::fromStdString(got) == package);
}
