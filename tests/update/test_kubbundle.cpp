// Update bundles built with GNU tar: the tar walk, loading and its errors, containers
// and their runners, the bundle view, and the chunked push to sessions.
#include "bundle_fixture.h"
#include "qtapp.h"
#include "update/bundlemodel.h"
#include "update/kubbundle.h"
#include "update/murlo_wire.h"
#include "update/tarreader.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cstring>

using fixture::BundleDir;
using fixture::md5;
using fixture::pattern;
using fixture::StandardBundle;

namespace {

void patch(const QString& file, qint64 at, const QByteArray& bytes) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.seek(at);
    f.write(bytes);
}

quint32 le32(const QByteArray& b, int at) {
    return quint32(quint8(b[at])) | quint32(quint8(b[at + 1])) << 8 |
           quint32(quint8(b[at + 2])) << 16 | quint32(quint8(b[at + 3])) << 24;
}

struct Published {
    QString path;
    QString contentType;
    QByteArray data;
};

class BundleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureQtApp(); }

    void SetUp() override {
        bundle.setAutoPump(false);
        bundle.setAddressSource([] { return QStringList{"192.168.1.5", "10.0.0.2"}; });
        bundle.setPublisher(
            [this](const QString& path, const QString& type, const QByteArray& data) {
                published << Published{path, type, data};
            });
    }

    bool load(const QString& path) { return bundle.load(path, &error); }

    KubBundle bundle;
    QList<Published> published;
    QString error;
};

} // namespace

TEST(TarWalk, HeaderFields) {
    char block[512] = {};
    std::memcpy(block, "name.bin", 8);
    std::memcpy(block + 124, "00000001750", 11); // 1000
    block[156] = '0';
    std::memcpy(block + 257, "ustar", 5);
    const tar::Header h = tar::parseHeader(block);
    EXPECT_TRUE(h.ustar);
    EXPECT_EQ(h.name, "name.bin");
    EXPECT_EQ(h.size, 1000);
    EXPECT_TRUE(h.isRegularFile());

    const struct {
        const char* field;
        qint64 value;
    } sizes[] = {
        {"00000001750", 1000},         {"   1750 ", 1000},           {"17509", 1000}, {"x1750", 0},
        {"37777777777", 4294967295LL}, {"77777777777", 8589934591LL}};
    for (const auto& s : sizes)
        EXPECT_EQ(tar::parseOctal(s.field, int(std::strlen(s.field))), s.value) << s.field;
}

TEST_F(BundleTest, TarMembersAsGnuTarWritesThem) {
    BundleDir dir;
    StandardBundle standard;
    const QString path = standard.build(dir);
    TarReader reader(path);
    ASSERT_TRUE(reader.scan()) << reader.errorString().toStdString();
    EXPECT_EQ(reader.size("app-main.bin"), 200000);
    EXPECT_EQ(reader.size("nothing"), 0);
    QByteArray web;
    ASSERT_TRUE(reader.read("app-web.bin", &web));
    EXPECT_EQ(web, standard.web);

    // A later member of the same name replaces the earlier one (appended with tar -r).
    const QByteArray newer = "9,armv7,speaker,a,1,app-main.bin,d\n";
    dir.index(newer);
    ASSERT_EQ(QProcess::execute("tar",
                                {"--format=ustar", "-rf", path, "-C", dir.memberPath(""), "index"}),
              0);
    TarReader again(path);
    ASSERT_TRUE(again.scan());
    EXPECT_EQ(again.size("index"), newer.size());
}

TEST_F(BundleTest, StandardBundle) {
    BundleDir dir;
    StandardBundle s;
    const QString path = s.build(dir);
    ASSERT_TRUE(load(path)) << error.toStdString();
    EXPECT_EQ(bundle.bundlePath(), path);

    const QList<BundleEntry> entries = bundle.entries();
    ASSERT_EQ(entries.size(), 5) << "the line naming a missing member is skipped";
    QList<qint32> ids;
    for (const BundleEntry& e : entries)
        ids << e.id;
    EXPECT_EQ(ids, QList<qint32>({1, 2, 3, 4, 5}));
    EXPECT_EQ(entries[0].name, "app-main");
    EXPECT_EQ(entries[0].version, "1.2.0");
    EXPECT_EQ(entries[0].desc, "Main application");
    EXPECT_EQ(entries[0].md5("10.0.0.2"), md5(s.main));
    EXPECT_EQ(entries[0].size(""), 200000);
    EXPECT_EQ(entries[3].arch, "aarch64");
    EXPECT_EQ(entries[4].type, "paging");

    EXPECT_EQ(bundle.contentFor(2, "10.0.0.2").value_or(""), s.web);
    EXPECT_FALSE(bundle.contentFor(6, "10.0.0.2")) << "skipped lines have no content";
    EXPECT_FALSE(bundle.contentFor(99, "10.0.0.2"));
    EXPECT_FALSE(bundle.containerUpdate()) << "the last accepted line is a plain package";
}

TEST_F(BundleTest, ContainerRunnerPerAddress) {
    BundleDir dir;
    StandardBundle s;
    ASSERT_TRUE(load(s.build(dir)));

    QStringList paths;
    for (const Published& p : published) {
        paths << p.path;
        EXPECT_EQ(p.contentType, "application/octet-stream");
    }
    EXPECT_EQ(paths, QStringList({"/kub-container-firmware-data",
                                  "/kub-container-firmware-runner-192.168.1.5",
                                  "/kub-container-firmware-runner-10.0.0.2"}));
    EXPECT_EQ(published[0].data, s.payload);

    for (const QString ip : {"192.168.1.5", "10.0.0.2"}) {
        const QByteArray url = "http://" + ip.toUtf8() + ":18835/kub-container-firmware-data";
        const QByteArray runner = bundle.contentFor(3, ip).value_or("");
        ASSERT_EQ(runner.size(), s.runner.size() + url.size() + 16) << ip.toStdString();
        EXPECT_EQ(runner.left(s.runner.size()), s.runner);
        EXPECT_EQ(runner.mid(s.runner.size(), url.size()), url);
        const QByteArray trailer = runner.right(16);
        EXPECT_EQ(trailer.left(4), s.container.right(16).left(4)) << "opaque word kept";
        EXPECT_EQ(le32(trailer, 4), quint32(s.runner.size()));
        EXPECT_EQ(le32(trailer, 8), quint32(url.size()));
        EXPECT_EQ(trailer.right(4), s.container.right(4)) << "version kept";
        EXPECT_TRUE(bundle::readContainerTrailer(runner)) << "the runner is a valid container";
        EXPECT_EQ(bundle.entries()[2].md5(ip), md5(runner));
    }
    // An address without a runner gets an empty package, not none.
    EXPECT_EQ(bundle.contentFor(3, "172.16.0.9"), std::optional<QByteArray>(QByteArray("")));
    EXPECT_EQ(bundle.entries()[2].size("172.16.0.9"), 0);
    EXPECT_EQ(bundle.entries()[2].md5("172.16.0.9"), "");

    // The view shows the runner of the first address in byte order.
    BundleModel model(&bundle);
    const QByteArray first = bundle.contentFor(3, "10.0.0.2").value_or("");
    EXPECT_EQ(model.index(2, BundleModel::SizeColumn).data().toInt(), first.size());
    EXPECT_EQ(model.index(2, BundleModel::Md5Column).data().toString(), QString(md5(first)));
}

TEST_F(BundleTest, ContainerUpdateFollowsTheLastAcceptedLine) {
    const struct {
        const char* what;
        quint32 version;
        bool containerLast;
        bool expected;
    } cases[] = {
        {"valid container last", 0x02040505, true, true},
        {"newer container last", 0x03000000, true, true},
        {"old version: plain package", 0x02040504, true, false},
        {"valid container, then a plain line", 0x02040505, false, false},
    };
    for (const auto& c : cases) {
        BundleDir dir;
        dir.container("kub-container-x", pattern(100, 1), pattern(200, 2), c.version);
        dir.member("plain.bin", pattern(50, 3));
        dir.index(c.containerLast ? "1,a,t,p,1,plain.bin,d\n2,a,t,c,1,kub-container-x,d\n"
                                  : "2,a,t,c,1,kub-container-x,d\n1,a,t,p,1,plain.bin,d\n");
        published.clear();
        ASSERT_TRUE(load(dir.build())) << c.what;
        EXPECT_EQ(bundle.containerUpdate(), c.expected) << c.what;
        const bool valid = c.version >= 0x02040505;
        EXPECT_EQ(published.size(), valid ? 3 : 0) << c.what;
        const int url = int(qstrlen("http://10.0.0.2:18835/kub-container-x-data"));
        EXPECT_EQ(bundle.contentFor(2, "10.0.0.2").value_or("").size(),
                  valid ? 100 + url + 16 : 316)
            << c.what;
    }
}

TEST(ContainerTrailer, SizesMustAddUpWithoutWrapping) {
    const auto member = [](quint32 offset, quint32 length, quint32 version, int total) {
        QByteArray m(total - 16, 'r');
        QByteArray t(16, '\0');
        for (int i = 0; i < 4; ++i) {
            t[4 + i] = char(offset >> (8 * i));
            t[8 + i] = char(length >> (8 * i));
            t[15 - i] = char(version >> (8 * i));
        }
        return m + t;
    };
    EXPECT_TRUE(bundle::readContainerTrailer(member(10, 20, 0x02040505, 46)));
    EXPECT_FALSE(bundle::readContainerTrailer(member(10, 21, 0x02040505, 46)));
    EXPECT_FALSE(bundle::readContainerTrailer(member(10, 20, 0x02040504, 46)));
    // 0xFFFFFFF0 + 0x1E + 16 wraps to 30 in 32 bits.
    EXPECT_FALSE(bundle::readContainerTrailer(member(0xFFFFFFF0u, 0x1E, 0x02040505, 30)));
    EXPECT_FALSE(bundle::readContainerTrailer(QByteArray(15, 'x')));
}

TEST_F(BundleTest, BrokenBundles) {
    const QByteArray good = "1,armv7,speaker,a,1,a.bin,d\n";
    const struct {
        const char* what;
        std::function<QString(BundleDir&)> make;
        const char* error;
        int entries;
    } cases[] = {
        {"size not a multiple of 512",
         [&](BundleDir& d) {
             d.member("a.bin", pattern(10, 1));
             d.index(good);
             const QString p = d.build();
             QFile f(p);
             f.open(QIODevice::Append);
             f.write(QByteArray(100, '\0'));
             return p;
         },
         "文件不存在或损坏", 0},
        {"no index",
         [&](BundleDir& d) {
             d.member("a.bin", pattern(10, 1));
             d.index(good);
             const QString p = d.path("b.tar");
             fixture::run({"bundle", p, d.path("members")}); // needs an index: build, then
             d.remove("index");                              // rebuild without one
             QProcess::execute("tar",
                               {"--format=ustar", "-cf", p, "-C", d.path("members"), "a.bin"});
             return p;
         },
         "该文件不是有效的升级包", 0},
        {"empty index",
         [&](BundleDir& d) {
             d.index("");
             return d.build();
         },
         "该文件不是有效的升级包", 0},
        {"first block without magic",
         [&](BundleDir& d) {
             d.member("a.bin", pattern(10, 1));
             d.index(good);
             const QString p = d.build();
             patch(p, 257, QByteArray(6, '\0'));
             return p;
         },
         "该文件不是有效的升级包", 0},
        {"six fields after a good line",
         [&](BundleDir& d) {
             d.member("a.bin", pattern(10, 1));
             d.index(good + "2,armv7,speaker,b,1,a.bin\n3,armv7,speaker,c,1,a.bin,d\n");
             return d.build();
         },
         "索引文件格式错误", 1},
        {"upper-case suffix",
         [&](BundleDir& d) {
             d.member("a.bin", pattern(10, 1));
             d.index(good);
             return d.build("bundle.TAR");
         },
         "不支持文件名后缀: TAR", -1},
        {"kub bundle",
         [&](BundleDir& d) {
             d.index(good);
             return d.build("bundle.kub");
         },
         "暂不支持kub升级包", -1},
        {"missing file", [&](BundleDir& d) { return d.path("absent.tar"); }, "文件不存在或损坏", 0},
    };
    for (const auto& c : cases) {
        // Something loaded before, so that what a failure resets shows.
        BundleDir before;
        before.member("z.bin", pattern(10, 9));
        before.index("9,armv7,speaker,z,1,z.bin,d\n");
        const QString earlier = before.build();
        ASSERT_TRUE(load(earlier));

        BundleDir dir;
        const QString path = c.make(dir);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(load(path)) << c.what;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(error.toStdString(), c.error) << c.what;
        // Suffix refusals reset nothing; every other failure starts from empty.
        EXPECT_EQ(bundle.entries().size(), c.entries < 0 ? 1 : c.entries) << c.what;
        EXPECT_EQ(bundle.bundlePath(), earlier) << c.what;
        if (std::string(c.what) == "size not a multiple of 512") {
            EXPECT_NE(err.find("tar file size should be a multiple of 512 bytes: " +
                               std::to_string(QFileInfo(path).size())),
                      std::string::npos)
                << err;
        }
    }
}

TEST_F(BundleTest, MemberSizesThatCannotBeTrueAreRefused) {
    // Written over the size field of "index", the first member.
    for (const char* size : {"37777777777", "20000000000", "17777777777", "00000777777"}) {
        BundleDir dir;
        dir.member("a.bin", pattern(10, 1));
        dir.index("1,armv7,speaker,a,1,a.bin,d\n");
        const QString path = dir.build();
        patch(path, 124, QByteArray(size) + '\0');
        TarReader reader(path);
        EXPECT_FALSE(reader.scan()) << size;
        EXPECT_TRUE(reader.errorString().contains("index")) << reader.errorString().toStdString();
        EXPECT_FALSE(load(path)) << size;
        EXPECT_EQ(error.toStdString(), "文件不存在或损坏");
        EXPECT_TRUE(bundle.entries().isEmpty());
    }
}

TEST_F(BundleTest, CrLfIndexLoadsLikeLf) {
    QList<QByteArray> md5s;
    for (const QByteArray& index :
         {QByteArray("1,armv7,speaker,a,1,a.bin,d\n\n  2,armv7,speaker,b,2,b.bin,e  \n"),
          QByteArray("1,armv7,speaker,a,1,a.bin,d\r\n\r\n2,armv7,speaker,b,2,b.bin,e\r\n")}) {
        BundleDir dir;
        dir.member("a.bin", pattern(10, 1));
        dir.member("b.bin", pattern(20, 2));
        dir.index(index);
        ASSERT_TRUE(load(dir.build())) << error.toStdString();
        ASSERT_EQ(bundle.entries().size(), 2);
        EXPECT_EQ(bundle.entries()[1].desc, "e");
        md5s << bundle.entries()[1].md5("");
    }
    EXPECT_EQ(md5s[0], md5s[1]);
}

TEST_F(BundleTest, LaterLineWithTheSameIdServesItsPackage) {
    BundleDir dir;
    dir.member("a.bin", pattern(10, 1));
    dir.member("b.bin", pattern(20, 2));
    dir.index(
        "7,armv7,speaker,a,1,a.bin,d\n7,armv7,speaker,b,1,b.bin,d\nx,armv7,speaker,c,1,a.bin,d\n");
    ASSERT_TRUE(load(dir.build()));
    ASSERT_EQ(bundle.entries().size(), 3);
    EXPECT_EQ(bundle.contentFor(7, "").value_or("").size(), 20);
    EXPECT_EQ(bundle.entries()[2].id, 0) << "an id that is no number reads as 0";
}

TEST_F(BundleTest, ModelShowsEntries) {
    BundleDir dir;
    StandardBundle s;
    ASSERT_TRUE(load(s.build(dir)));
    BundleModel model(&bundle);
    EXPECT_EQ(model.rowCount(), 5);
    EXPECT_EQ(model.columnCount(), 6);
    QStringList headers;
    for (int c = 0; c < 6; ++c)
        headers << model.headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(headers, QStringList({"ID", "NAME", "VERSION", "SIZE", "MD5", "DESC"}));
    EXPECT_FALSE(model.headerData(0, Qt::Vertical).isValid());
    EXPECT_EQ(model.index(1, 0).data().toInt(), 2);
    EXPECT_EQ(model.index(1, 1).data().toString(), "app-web");
    EXPECT_EQ(model.index(1, 2).data().toString(), "1.0.3");
    EXPECT_EQ(model.index(1, 3).data().toInt(), 150000);
    EXPECT_EQ(model.index(1, 4).data().toString(), QString(md5(s.web)));
    EXPECT_EQ(model.index(1, 5).data().toString(), "Web console");
    EXPECT_EQ(model.flags(model.index(1, 1)), Qt::NoItemFlags);
    model.sort(1, Qt::DescendingOrder);
    EXPECT_EQ(model.index(0, 0).data().toInt(), 1);

    // The view keeps what it took until it is reloaded.
    BundleDir other;
    other.member("a.bin", pattern(10, 1));
    other.index("1,armv7,speaker,a,1,a.bin,d\n");
    ASSERT_TRUE(load(other.build()));
    EXPECT_EQ(model.rowCount(), 5);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.reload();
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(model.rowCount(), 1);
}

// ---- the chunked push ----

namespace {

class PumpTest : public BundleTest {
protected:
    void SetUp() override {
        BundleTest::SetUp();
        ASSERT_TRUE(load(standard.build(dir)));
        // What a server would take from its outbox.
        outbox->setWake([this] {
            QMetaObject::invokeMethod(
                &bundle,
                [this] {
                    MurloOutbox::Batch b = outbox->take();
                    sent.insert(sent.end(), b.chunks.begin(), b.chunks.end());
                    closed += b.closing;
                },
                Qt::QueuedConnection);
        });
    }

    MurloSessionPtr session(const QString& ip = "10.0.0.2") {
        return std::make_shared<MurloSession>(nullptr, outbox, nullptr, "10.0.0.9:4000", ip, 0);
    }

    void transferChunk() {
        bundle.transferChunk();
        QCoreApplication::processEvents();
    }

    // Delivers the queued registration, as the GUI thread's event loop does.
    void start(const MurloSessionPtr& s, qint64 id) {
        bundle.startTransfer(s, id);
        QCoreApplication::processEvents();
    }

public:
    struct Piece {
        qint64 offset;
        int length;
    };

protected:
    QList<Piece> pieces(const MurloSessionPtr& s) const {
        QList<Piece> out;
        for (const MurloChunk& c : sent) {
            if (c.session != s)
                continue;
            EXPECT_LE(c.offset + c.length, c.content.size());
            out << Piece{c.offset, c.length};
        }
        return out;
    }

    BundleDir dir;
    StandardBundle standard;
    std::shared_ptr<MurloOutbox> outbox = std::make_shared<MurloOutbox>();
    std::vector<MurloChunk> sent;
    MurloSessionList closed;
};

QList<std::pair<qint64, int>> asPairs(const QList<PumpTest::Piece>& pieces) {
    QList<std::pair<qint64, int>> out;
    for (const auto& p : pieces)
        out << std::make_pair(p.offset, p.length);
    return out;
}

} // namespace

TEST_F(PumpTest, OneChunkPerTick) {
    const struct {
        qint64 id;
        QList<std::pair<qint64, int>> chunks;
    } cases[] = {
        // 150000 - 2 * 65536 = 18928.
        {2, {{0, 65536}, {65536, 65536}, {131072, 18928}}},
        {1, {{0, 65536}, {65536, 65536}, {131072, 65536}, {196608, 3392}}},
    };
    for (const auto& c : cases) {
        sent.clear();
        const MurloSessionPtr s = session();
        start(s, c.id);
        for (int tick = 0; tick < 6; ++tick) {
            transferChunk();
            EXPECT_EQ(pieces(s).size(), qMin(tick + 1, c.chunks.size())) << "tick " << tick;
            s->queuedBytes = 0; // the server took it
        }
        EXPECT_EQ(asPairs(pieces(s)), c.chunks);
        QByteArray whole;
        for (const MurloChunk& chunk : sent) {
            EXPECT_EQ(chunk.fileId, c.id);
            whole += chunk.content.mid(int(chunk.offset), chunk.length);
        }
        EXPECT_EQ(whole, c.id == 2 ? standard.web : standard.main);
        EXPECT_EQ(bundle.transferCount(), 1) << "a finished transfer stays until its session ends";
    }
}

TEST_F(PumpTest, SlowTerminalIsSkippedInsteadOfQueued) {
    const MurloSessionPtr s = session();
    start(s, 1);
    for (int tick = 0; tick < 10; ++tick)
        transferChunk();
    // Nothing drains: the queue stops growing once it holds two chunks.
    EXPECT_EQ(pieces(s).size(), 2);
    EXPECT_LE(s->unsentBytes(), KubBundle::kMaxUnsentBytes + murlo::chunkFrameSize(65536));
    s->queuedBytes = 0; // the server took them
    transferChunk();
    EXPECT_EQ(pieces(s).size(), 3);
    s->queuedBytes = 0;
    s->socketBacklog = KubBundle::kMaxUnsentBytes + 1; // the socket's own buffer is full
    transferChunk();
    EXPECT_EQ(pieces(s).size(), 3);
    s->socketBacklog = 0;
    transferChunk();
    EXPECT_EQ(asPairs(pieces(s)).last(), std::make_pair(qint64(196608), 3392));
}

TEST_F(PumpTest, EndedSessionsLeaveTheTable) {
    MurloSessionPtr gone = session();
    const MurloSessionPtr closing = session();
    const MurloSessionPtr alive = session();
    start(gone, 1);
    start(closing, 1);
    start(alive, 1);
    EXPECT_EQ(bundle.transferCount(), 3);
    gone.reset();
    closing->markClosed();
    transferChunk();
    EXPECT_EQ(bundle.transferCount(), 1);
    EXPECT_EQ(pieces(alive).size(), 1);
    EXPECT_EQ(sent.size(), 1u);
}

TEST_F(PumpTest, RestartBeginsAgainAtZero) {
    const MurloSessionPtr s = session();
    start(s, 1);
    transferChunk();
    s->queuedBytes = 0;
    start(s, 2);
    transferChunk();
    EXPECT_EQ(asPairs(pieces(s)), (QList<std::pair<qint64, int>>{{0, 65536}, {0, 65536}}));
    EXPECT_EQ(bundle.transferCount(), 1);
}

TEST_F(PumpTest, ContainerChunksComeFromTheSessionsAddress) {
    const MurloSessionPtr s = session("192.168.1.5");
    start(s, 3);
    transferChunk();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].content.mid(int(sent[0].offset), sent[0].length),
              bundle.contentFor(3, "192.168.1.5").value_or(""));
}

TEST_F(PumpTest, ReloadClosesEverySessionWithATransfer) {
    const MurloSessionPtr finished = session(), running = session(), idle = session();
    start(finished, 5); // 1200 bytes: done after one tick
    start(running, 1);
    transferChunk();
    ASSERT_TRUE(load(dir.build("again.tar")));
    QCoreApplication::processEvents();
    EXPECT_EQ(closed.size(), 2);
    EXPECT_TRUE(closed.contains(finished));
    EXPECT_TRUE(closed.contains(running));
    EXPECT_FALSE(closed.contains(idle));
    EXPECT_EQ(bundle.transferCount(), 0);
}

TEST_F(PumpTest, TransferAnsweredFromAnEarlierBundleClosesItsSession) {
    const MurloSessionPtr s = session();
    const BundleSnapshotPtr before = bundle.snapshot();
    ASSERT_TRUE(load(dir.build("again.tar")));
    bundle.startTransfer(s, 1, before);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(closed, MurloSessionList{s});
    EXPECT_EQ(bundle.transferCount(), 0);
}

TEST_F(PumpTest, TimerPushesEveryTenMilliseconds) {
    bundle.setAutoPump(true);
    const MurloSessionPtr s = session();
    int ticks = 0;
    bundle.setPumpObserver([&] {
        ++ticks;
        s->queuedBytes = 0;
    });
    sent.clear();
    bundle.startTransfer(s, 2);
    QElapsedTimer guard;
    guard.start();
    while (pieces(s).size() < 3 && guard.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(pieces(s).size(), 3);
    EXPECT_GE(ticks, 3);
}
