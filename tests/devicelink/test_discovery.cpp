#include "devicelink/devicediscovery.h"
#include "qtapp.h"

#include <QSignalSpy>
#include <QUdpSocket>

#include <gtest/gtest.h>

namespace {

DevicePacket reply(std::initializer_list<std::pair<const char*, const char*>> pairs,
                   uint8_t code = DeviceCode::Scan + 1) {
    DevicePacket p;
    p.code = code;
    for (const auto& kv : pairs)
        p.insert(kv.first, QByteArray(kv.second));
    return p;
}

DeviceInfo filled(const DevicePacket& p, size_t typeRow = 0,
                  const QHostAddress& from = QHostAddress(QStringLiteral("192.168.7.8"))) {
    DeviceInfo d;
    fillDeviceInfo(d, p, from, deviceTypes()[typeRow], QStringLiteral("2026-01-02 03:04:05"));
    return d;
}

// Collects the warnings about dropped datagrams while it lives.
QStringList gDropLines;
void collectDropLines(QtMsgType type, const QMessageLogContext&, const QString& msg) {
    if (type == QtWarningMsg && msg.startsWith(QStringLiteral("udp inbox full")))
        gDropLines << msg;
}
struct DropLog {
    QtMessageHandler previous;
    DropLog() {
        gDropLines.clear();
        previous = qInstallMessageHandler(collectDropLines);
    }
    ~DropLog() { qInstallMessageHandler(previous); }
    // The counts the lines report, summed.
    static qint64 total() {
        qint64 sum = 0;
        for (const QString& line : gDropLines)
            sum += line.section(QLatin1Char(' '), 3, 3).toLongLong();
        return sum;
    }
};

DeviceInfo withFeatures(const char* f) {
    DeviceInfo d;
    d.f.setBoth(QString::fromUtf8(f));
    return d;
}

} // namespace

TEST(FillDeviceInfo, EveryVocabularyKeyLandsInBothHalves) {
    const struct {
        const char* key;
        MyString DeviceInfo::*field;
    } keys[] = {
        {"F", &DeviceInfo::f},
        {"DEV_ID", &DeviceInfo::devId},
        {"DEV_SERIAL", &DeviceInfo::devSerial},
        {"PROTO", &DeviceInfo::proto},
        {"HW_ADDR", &DeviceInfo::hwAddr},
        {"ADDRESS", &DeviceInfo::address},
        {"NETMASK", &DeviceInfo::netmask},
        {"GATEWAY", &DeviceInfo::gateway},
        {"AI_VOLUME", &DeviceInfo::aiVolume},
        {"AO_VOLUME", &DeviceInfo::aoVolume},
        {"BOOT_SOUND", &DeviceInfo::bootSound},
        {"DEV_NAME", &DeviceInfo::devName},
        {"bcast-client/server.ip", &DeviceInfo::server},
        {"bcast-client/server.port", &DeviceInfo::port},
        {"message", &DeviceInfo::notice},
        {"VV", &DeviceInfo::vv},
        {"AN", &DeviceInfo::an},
        {"AV", &DeviceInfo::av},
        {"WIFI_NAME", &DeviceInfo::wifiName},
        {"WIFI_PWD", &DeviceInfo::wifiPwd},
        {"INPUT_DB_UPPER_BOUND", &DeviceInfo::inputDbUpperBound},
        {"OUTPUT_DB_UPPER_BOUND", &DeviceInfo::outputDbUpperBound},
        {"REBOOT_AT", &DeviceInfo::rebootAt},
        {"REBOOT_ENABLE", &DeviceInfo::rebootEnable},
        {"PPPD_MODULE_RECOGNITION", &DeviceInfo::pppdModuleRecognition},
        {"FILESYSTEM_MESSAGE", &DeviceInfo::filesystemMessage},
        {"ICCID", &DeviceInfo::iccid},
    };
    DevicePacket p;
    for (const auto& k : keys)
        p.insert(k.key, QByteArray("v-") + k.key);
    p.insert("UNKNOWN", "x");
    p.insert("dev_id", "lower case is another key");
    const DeviceInfo d = filled(p);
    for (const auto& k : keys) {
        const QString want = QStringLiteral("v-") + QString::fromUtf8(k.key);
        EXPECT_EQ((d.*k.field).reported, want) << k.key;
        EXPECT_EQ((d.*k.field).current, want) << k.key;
    }
    EXPECT_EQ(d.time.reported, QStringLiteral("2026-01-02 03:04:05"));
    EXPECT_EQ(d.time.current, QStringLiteral("2026-01-02 03:04:05"));
}

TEST(FillDeviceInfo, DefaultsTypeKeysAndRepeatedKeys) {
    // Missing or empty ADDRESS: the sender's address; missing PPPD flag: "0".
    for (const DevicePacket& p : {reply({{"DEV_ID", "A"}}), reply({{"ADDRESS", ""}})}) {
        const DeviceInfo d = filled(p);
        EXPECT_EQ(d.address.reported, QStringLiteral("192.168.7.8"));
        EXPECT_EQ(d.address.current, QStringLiteral("192.168.7.8"));
        EXPECT_EQ(d.pppdModuleRecognition.reported, QStringLiteral("0"));
    }
    EXPECT_EQ(filled(reply({{"PPPD_MODULE_RECOGNITION", "1"}})).pppdModuleRecognition.current,
              QStringLiteral("1"));
    // The last of repeated keys wins.
    EXPECT_EQ(filled(reply({{"DEV_NAME", "a"}, {"DEV_NAME", "b"}})).devName.reported,
              QStringLiteral("b"));
    // Server and port follow the tab's keys.
    const DevicePacket both = reply({{"bcast-client/server.ip", "1.1.1.1"},
                                     {"smart_poc/poc.server.ip", "2.2.2.2"},
                                     {"smart_poc.poc.server.port", "99"},
                                     {"smart_poc/poc.server.port", "wrong"}});
    EXPECT_EQ(filled(both, 1).server.reported, QStringLiteral("1.1.1.1"));
    EXPECT_EQ(filled(both, 10).server.reported, QStringLiteral("2.2.2.2"));
    EXPECT_EQ(filled(both, 10).port.reported, QStringLiteral("99"));
    // Types without server keys read none, not even from an empty key.
    const DeviceInfo svr = filled(reply({{"", "x"}, {"bcast-client/server.ip", "1.1.1.1"}}), 7);
    EXPECT_TRUE(svr.server.reported.isEmpty());
    EXPECT_TRUE(svr.port.reported.isEmpty());
    // Text is read as UTF-8.
    EXPECT_EQ(filled(reply({{"DEV_NAME", "大厅"}})).devName.reported, QStringLiteral("大厅"));
}

TEST(TypeFilter, FeatureListAgainstTabs) {
    const struct {
        const char* f;
        size_t row;
        bool passes;
    } cases[] = {
        {"aoip.p,aoip.c", 0, true},
        {"aoip.p,aoip.c", 1, true},
        {"aoip.p,aoip.c", 2, true},
        {"aoip.p,aoip.c", 3, false},
        {"aoip.c/kb", 3, true},
        {"aoip.c/kb", 2, false},
        {"aoip.p, aoip.c", 2, false},
        {"AOIP.P", 1, false},
        {"", 0, true},
        {"", 12, true},
        {"", 1, false},
        {"", 11, false},
        {"aoip.p", 12, false},
        {",", 12, false},
        {"poc.i,", 11, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(matchesType(withFeatures(c.f), deviceTypes()[c.row]), c.passes)
            << "F='" << c.f << "' row " << c.row;
}

TEST(WildcardMatch, Table) {
    const struct {
        const char* text;
        const char* pattern;
        bool match;
    } cases[] = {
        {"192.168.10.0", "*10.0*", true},
        {"192.168.1.100", "*10.0*", false},
        {"dev-17", "*dev*7*", true},
        {"my device 7", "*dev*7*", true},
        {"Dev7", "*dev*7*", false},
        {"abc", "abc", true},
        {"abc", "ab", false},
        {"abc", "a?c", false},
        {"a?c", "a?c", true},
        {"", "**", true},
        {"", "", true},
        {"x", "", false},
        {"aaab", "*a*b", true},
        {"abcabd", "*abd", true},
        {"abcabd", "*abc", false},
        {"大厅音柱", "*音*", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wildcardMatch(QString::fromUtf8(c.text), QString::fromUtf8(c.pattern)), c.match)
            << c.text << " ~ " << c.pattern;
}

// The discovery endpoint against a terminal stand-in on loopback.
class DiscoveryLoopback : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureQtApp(); }
    void SetUp() override {
        ASSERT_TRUE(terminal.bind(QHostAddress(QHostAddress::LocalHost), 0));
        discovery.setBroadcastTargets({QHostAddress(QHostAddress::LocalHost)});
        discovery.setDestinationPort(terminal.localPort());
        discovery.setCoalesceInterval(0);
    }
    QByteArray receiveRequest() {
        if (!terminal.hasPendingDatagrams())
            terminal.waitForReadyRead(5000);
        QByteArray bytes(int(terminal.pendingDatagramSize()), '\0');
        terminal.readDatagram(bytes.data(), bytes.size(), &manager, &managerPort);
        return bytes;
    }
    void send(const DevicePacket& p) { terminal.writeDatagram(p.marshal(), manager, managerPort); }
    void send(const QByteArray& raw) { terminal.writeDatagram(raw, manager, managerPort); }
    // Waits until the count text shows `rows` devices.
    bool waitForRows(int rows) {
        const QString want = QStringLiteral("%1 devices").arg(rows);
        QSignalSpy spy(&discovery, &DeviceDiscovery::countTextChanged);
        for (int i = 0; i < 50; ++i) {
            if (model.rowCount() == rows && discovery.countText() == want)
                return true;
            spy.wait(100);
        }
        return false;
    }

    DevicesModel model;
    DeviceDiscovery discovery{&model};
    QUdpSocket terminal;
    QHostAddress manager;
    quint16 managerPort = 0;
};

TEST_F(DiscoveryLoopback, ScanRequestRepliesAndFilters) {
    EXPECT_GT(discovery.receiveBufferSize(), 0);
    discovery.sendScan();
    QByteArray expected("\x76\x69\x00\x01\x00\x01\x00\x51", 8);
    expected.append(QByteArray(68, '\0'));
    expected.append("config_key=bcast-client/server.ip;config_key=bcast-client/server.port;"
                    "feature=any");
    EXPECT_EQ(receiveRequest(), expected);

    send(reply({{"DEV_ID", "B"}, {"ADDRESS", "10.0.0.2"}, {"F", "aoip.p"}}));
    send(QByteArray("garbage that is not a datagram"));
    send(reply({{"DEV_ID", "A"}, {"F", "aoip.c"}, {"WIFI_PWD", "a=b"}}));
    send(reply({{"DEV_ID", "B"}, {"ADDRESS", "10.0.0.3"}}));
    send(reply({{"DEV_ID", "C"}}, 0x41)); // unknown code
    ASSERT_TRUE(waitForRows(2));
    EXPECT_EQ(model.find(QStringLiteral("B"))->address.reported, QStringLiteral("10.0.0.3"));
    EXPECT_EQ(model.find(QStringLiteral("A"))->address.reported, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(model.find(QStringLiteral("A"))->wifiPwd.reported, QStringLiteral("a=b"));

    // Another tab: the table is emptied and only matching terminals come back.
    discovery.setDeviceTypeIndex(2);
    discovery.sendScan();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(receiveRequest().mid(76),
              QByteArray("config_key=bcast-client/server.ip;config_key=bcast-client/"
                         "server.port;feature=aoip.c"));
    send(reply({{"DEV_ID", "B"}, {"F", "aoip.p"}}));
    send(reply({{"DEV_ID", "A"}, {"F", "aoip.c"}}));
    ASSERT_TRUE(waitForRows(1));
    EXPECT_NE(model.find(QStringLiteral("A")), nullptr);

    // A keyword on DEV_NAME.
    discovery.setDeviceTypeIndex(0);
    discovery.setSearchColumn(1);
    discovery.setSearchMessage(QStringLiteral("dev*7"));
    discovery.sendScan();
    receiveRequest();
    send(reply({{"DEV_ID", "1"}, {"DEV_NAME", "dev-17"}}));
    send(reply({{"DEV_ID", "2"}, {"DEV_NAME", "my device 7"}}));
    send(reply({{"DEV_ID", "3"}, {"DEV_NAME", "Dev7"}}));
    send(reply({{"DEV_ID", "4"}}));
    ASSERT_TRUE(waitForRows(2));
    EXPECT_EQ(model.find(QStringLiteral("3")), nullptr);
}

TEST_F(DiscoveryLoopback, ConfigurationRepliesFollowTheScanResults) {
    discovery.setCoalesceInterval(10000); // only the config reply may apply the batch
    discovery.sendScan();
    receiveRequest();
    QSignalSpy config(&discovery, &DeviceDiscovery::configReply);
    send(reply({{"DEV_ID", "A"}}));
    send(reply({{"DEV_ID", "A"}, {"message", "done"}}, DeviceCode::VolumeConfig + 1));
    ASSERT_TRUE(config.wait(5000));
    // The scan result queued before it is in the table when the handler runs.
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(config[0][1].value<DevicePacket>().value("message"), QByteArray("done"));
}

TEST_F(DiscoveryLoopback, CutTargetsAreNotSent) {
    DevicePacket p = DevicePacket::request(DeviceCode::Reboot);
    p.setTargetDevId(QStringLiteral("0123456789abcdefXYZ"));
    discovery.broadcastPacket(p);
    DevicePacket ok = DevicePacket::request(DeviceCode::Reboot);
    ok.setTargetDevId(QStringLiteral("0123456789abcde"));
    discovery.broadcastPacket(ok);
    const QByteArray got = receiveRequest();
    EXPECT_EQ(QByteArray(got.constData() + 28), QByteArray("0123456789abcde"));
    EXPECT_FALSE(terminal.waitForReadyRead(100));
}

// A burst larger than one slice of handling is read whole and lands in order.
TEST_F(DiscoveryLoopback, ABurstOfRepliesIsNotLost) {
    if (discovery.receiveBufferSize() < 8 * 1024 * 1024)
        GTEST_SKIP() << "the system caps the receive buffer at " << discovery.receiveBufferSize()
                     << " bytes, too small to queue the whole burst";
    discovery.setCoalesceInterval(100);
    discovery.sendScan();
    receiveRequest();
    const int burst = 3000;
    for (int i = 0; i < burst; ++i) {
        const QByteArray id = QByteArray::number(burst - i);
        send(reply({{"DEV_ID", id.constData()}, {"F", "aoip.p"}}));
    }
    send(reply({{"DEV_ID", "1"}, {"message", "again"}})); // merges into an existing row
    QSignalSpy counts(&discovery, &DeviceDiscovery::countTextChanged);
    for (int i = 0; i < 100 && discovery.repliesSinceScan() < burst + 1; ++i)
        counts.wait(100);
    ASSERT_EQ(discovery.repliesSinceScan(), burst + 1);
    discovery.flushPending();
    ASSERT_EQ(model.rowCount(), burst);
    EXPECT_EQ(discovery.countText(), QStringLiteral("3000 devices"));
    EXPECT_EQ(model.find(QStringLiteral("1"))->notice.reported, QStringLiteral("again"));
    for (int r = 1; r < model.rowCount(); ++r)
        ASSERT_LT(model.deviceAt(r - 1)->devId.reported, model.deviceAt(r)->devId.reported);
}

// A flood larger than the inbox: the datagrams that fit are kept and handled in order,
// the rest are read, dropped and counted, and the count is logged at most once a second.
TEST_F(DiscoveryLoopback, AFloodBeyondTheInboxIsDroppedCountedAndLogged) {
    if (discovery.receiveBufferSize() < 1024 * 1024)
        GTEST_SKIP() << "the system caps the receive buffer at " << discovery.receiveBufferSize()
                     << " bytes, too small to queue a flood";
    qint64 now = 1'700'000'000'000;
    discovery.setClock([&now] { return now; });
    discovery.setInboxLimits(50, 1024 * 1024);
    DropLog log;
    discovery.sendScan();
    receiveRequest();
    auto flood = [&](int first, int count) {
        for (int i = first; i < first + count; ++i) {
            const QByteArray id = QByteArray::number(i).rightJustified(5, '0');
            send(reply({{"DEV_ID", id.constData()}}));
        }
        // All of it is queued in the socket before the window reads any.
        discovery.readUdpPackets();
        EXPECT_LE(discovery.inboxSize(), 50);
    };
    auto handleAll = [&] {
        for (int i = 0; i < 500 && discovery.inboxSize() > 0; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        discovery.flushPending();
    };

    flood(0, 200);
    EXPECT_EQ(discovery.droppedDatagrams(), 150);
    ASSERT_EQ(gDropLines.size(), 1) << "the first drop is logged at once";
    EXPECT_TRUE(gDropLines[0].startsWith(QStringLiteral("udp inbox full: 150 datagrams dropped")))
        << gDropLines[0].toStdString();
    handleAll();
    ASSERT_EQ(model.rowCount(), 50);
    EXPECT_EQ(model.deviceAt(0)->devId.reported, QStringLiteral("00000"));
    EXPECT_EQ(model.deviceAt(49)->devId.reported, QStringLiteral("00049"));

    // Within the same second the count grows without a line; a second later the next
    // drop brings it all.
    flood(1000, 100);
    EXPECT_EQ(gDropLines.size(), 1);
    handleAll();
    now += DeviceDiscovery::dropReportIntervalMs;
    flood(2000, 60);
    EXPECT_EQ(gDropLines.size(), 2);
    EXPECT_EQ(discovery.droppedDatagrams(), 150 + 50 + 10);
    EXPECT_EQ(DropLog::total(), discovery.droppedDatagrams());
    handleAll();
    EXPECT_EQ(model.rowCount(), 150);

    // The byte bound holds as well: room for five replies.
    const qint64 one = reply({{"DEV_ID", "30000"}}).marshal().size();
    discovery.setInboxLimits(1000, 5 * one);
    now += DeviceDiscovery::dropReportIntervalMs;
    flood(30000, 20);
    EXPECT_EQ(discovery.droppedDatagrams(), 210 + 15);
    EXPECT_LE(discovery.inboxBytes(), 5 * one);
    EXPECT_EQ(DropLog::total(), discovery.droppedDatagrams());
    handleAll();
    EXPECT_EQ(model.rowCount(), 155);
}
