#include "devicelink/devicepacket.h"

#include <QRandomGenerator>
#include <QStringList>

#include <cstring>

#include <gtest/gtest.h>

namespace {

QStringList logLines;
void collect(QtMsgType, const QMessageLogContext&, const QString& msg) {
    logLines << msg;
}

struct LogCapture {
    QtMessageHandler previous;
    LogCapture() {
        logLines.clear();
        previous = qInstallMessageHandler(collect);
    }
    ~LogCapture() { qInstallMessageHandler(previous); }
};

QByteArray datagram(int length, uint16_t payloadLen, bool goodMagic = true) {
    QByteArray b(length, '\0');
    if (length > 1 && goodMagic) {
        b[0] = 0x76;
        b[1] = 0x69;
    }
    if (length > 7) {
        b[6] = char(payloadLen >> 8);
        b[7] = char(payloadLen & 0xFF);
    }
    return b;
}

std::string pairsText(const std::vector<DevicePair>& pairs) {
    std::string out;
    for (const auto& p : pairs)
        out += "[" + p.first.toStdString() + "|" + p.second.toStdString() + "]";
    return out;
}

DevicePacket scanRequest(size_t row) {
    const DeviceType& t = deviceTypes()[row];
    DevicePacket p = DevicePacket::request(DeviceCode::Scan);
    if (!t.serverKey.isEmpty())
        p.insert("config_key", t.serverKey.toUtf8());
    if (!t.portKey.isEmpty())
        p.insert("config_key", t.portKey.toUtf8());
    p.insert("feature", t.feature.toUtf8());
    return p;
}

} // namespace

TEST(DevicePacket, ScanRequestForAllTerminalsIsByteExact) {
    QByteArray expected("\x76\x69\x00\x01\x00\x01\x00\x51", 8);
    expected.append(QByteArray(68, '\0'));
    expected.append("config_key=bcast-client/server.ip;config_key=bcast-client/server.port;"
                    "feature=any");
    ASSERT_EQ(expected.size(), 76 + 81);
    EXPECT_EQ(scanRequest(0).marshal(), expected);
    EXPECT_EQ(scanRequest(7).marshal().mid(76), QByteArray("feature=aoip.svr"));
    EXPECT_EQ(scanRequest(12).marshal().mid(76), QByteArray("feature="));
    EXPECT_EQ(scanRequest(10).marshal().mid(76),
              QByteArray("config_key=smart_poc/poc.server.ip;config_key=smart_poc.poc.server.port;"
                         "feature=poc.s"));
}

TEST(DevicePacket, NewPacketAndEmptyPayload) {
    const QByteArray bytes = DevicePacket().marshal();
    ASSERT_EQ(bytes.size(), 76);
    EXPECT_EQ(bytes.left(2), QByteArray("vi"));
    EXPECT_EQ(bytes.mid(2), QByteArray(74, '\0'));
}

TEST(DevicePacket, MarshalOrdersKeysBytewiseKeepingInsertionOrderOfEqualKeys) {
    DevicePacket p;
    p.insert("feature", "any");
    p.insert("config_key", "b");
    p.insert("config_key", "a");
    p.insert("KEY", "1");
    p.insert("KE", "2");
    p.insert("config_key", "a"); // never replaces
    EXPECT_EQ(p.marshal().mid(76),
              QByteArray("KE=2;KEY=1;config_key=b;config_key=a;config_key=a;feature=any"));
    EXPECT_EQ(p.value("config_key"), QByteArray("a"));
    EXPECT_TRUE(p.value("missing").isNull());
}

TEST(DevicePacket, UnmarshalChecks) {
    const struct {
        QByteArray bytes;
        const char* log; // null: accepted
    } cases[] = {
        {datagram(61, 0), "packet too short"},
        {datagram(62, 0), "invalid payload_len field"},
        {datagram(75, 0), "invalid payload_len field"},
        {datagram(62, 0, false), "wrong magic number"},
        {datagram(76, 0, false), "wrong magic number"},
        {datagram(76, 0), nullptr},
        {datagram(77, 0), "invalid payload_len field"},
        {datagram(77, 2), "invalid payload_len field"},
        {datagram(78, 2), nullptr},
    };
    for (const auto& c : cases) {
        LogCapture capture;
        DevicePacket p;
        const int n = p.unmarshal(c.bytes.constData(), c.bytes.size());
        SCOPED_TRACE(c.bytes.size());
        if (c.log) {
            EXPECT_EQ(n, 0);
            EXPECT_EQ(logLines, QStringList(QString::fromLatin1(c.log)));
        } else {
            EXPECT_EQ(n, c.bytes.size());
            EXPECT_TRUE(logLines.isEmpty());
        }
    }
}

TEST(DevicePacket, UnmarshalReadsHeaderAndPairs) {
    DevicePacket out = DevicePacket::request(DeviceCode::Scan + 1);
    out.setTargetHwAddr(QStringLiteral("00:11:22:33:44:55"));
    out.setTargetDevId(QStringLiteral("T-001"));
    out.insert("DEV_NAME", QStringLiteral("大厅音柱").toUtf8());
    out.insert("WIFI_PWD", "a=b");
    const QByteArray bytes = out.marshal();
    DevicePacket in;
    ASSERT_EQ(in.unmarshal(bytes.constData(), bytes.size()), bytes.size());
    EXPECT_EQ(in.code, 0x01);
    EXPECT_EQ(in.fixed3, 0x01);
    EXPECT_EQ(in.fixed4, 1);
    EXPECT_EQ(in.payloadLen, bytes.size() - 76);
    EXPECT_STREQ(in.targetHwAddr, "00:11:22:33:44:55");
    EXPECT_STREQ(in.targetDevId, "T-001");
    EXPECT_EQ(QString::fromUtf8(in.value("DEV_NAME")), QStringLiteral("大厅音柱"));
    EXPECT_EQ(in.value("WIFI_PWD"), QByteArray("a=b"));
}

TEST(DevicePayload, Grammar) {
    const struct {
        const char* payload;
        const char* pairs;
    } cases[] = {
        {" A = b c ;B=1", "[A|b c][B|1]"},
        {"K=;L=2", "[K|][L|2]"},
        {"K=", ""},
        {"K", ""},
        {"K;L=2", "[K|][L|2]"},
        {"K = ;L", "[K|]"},
        {"\tA\t=\t1\t", "[A|1]"},
        {"A=1\n", "[A|1\n]"},
        {"A=1\r\n;B=2", "[A|1\r\n][B|2]"},
        {"WIFI_PWD=a=b;X=1", "[WIFI_PWD|a=b][X|1]"},
        {"A==b", "[A|=b]"},
        {"A=1;;B=2", "[A|1][B|2]"},
        {";A=1;", "[A|1]"},
        {";;;", ""},
        {"=v;A=1", "[|v][A|1]"},
        {"A B=c d", "[A B|c d]"},
        {"DEV_NAME=大厅 音柱", "[DEV_NAME|大厅 音柱]"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pairsText(parseDevicePayload(c.payload, std::strlen(c.payload))), c.pairs)
            << "payload: '" << c.payload << "'";
}

TEST(DevicePacket, TargetsNeverOverrunTheirFields) {
    const struct {
        QString text;
        bool fits;
        QByteArray stored;
    } hw[] = {
        {QStringLiteral("0123456789012345678"), true, "0123456789012345678"},
        {QStringLiteral("01234567890123456789AB"), false, "0123456789012345678"},
        // 6 three-byte characters: the 7th byte would split one, so 6 bytes remain.
        {QStringLiteral("一二三四五六七"), false, QStringLiteral("一二三四五六").toUtf8()},
    };
    for (const auto& c : hw) {
        DevicePacket p;
        EXPECT_EQ(p.setTargetHwAddr(c.text), c.fits);
        EXPECT_EQ(p.targetCut(), !c.fits);
        EXPECT_EQ(QByteArray(p.targetHwAddr), c.stored);
        EXPECT_EQ(p.targetHwAddr[19], '\0');
    }
    DevicePacket p;
    EXPECT_TRUE(p.setTargetDevId(QStringLiteral("012345678901234")));
    EXPECT_FALSE(p.targetCut());
    EXPECT_FALSE(p.setTargetDevId(QStringLiteral("一二三四五六")));
    EXPECT_EQ(QByteArray(p.targetDevId), QStringLiteral("一二三四五").toUtf8());
    EXPECT_TRUE(p.targetCut());
    // The spare field right behind the DEV_ID stays zero.
    EXPECT_EQ(p.marshal().mid(44, 32), QByteArray(32, '\0'));
}

TEST(DevicePacket, RandomBytesNeverCrashTheParser) {
    QRandomGenerator rng(42);
    const char alphabet[] = "ab=; \t\n\xe4\xb8";
    for (int i = 0; i < 3000; ++i) {
        QByteArray bytes = datagram(76, 0);
        const int n = int(rng.bounded(40));
        for (int k = 0; k < n; ++k)
            bytes.append(alphabet[rng.bounded(int(sizeof alphabet - 1))]);
        bytes[6] = char(n >> 8);
        bytes[7] = char(n & 0xFF);
        if (rng.bounded(4) == 0)
            bytes.truncate(int(rng.bounded(bytes.size() + 1)));
        DevicePacket p;
        const int r = p.unmarshal(bytes.constData(), bytes.size());
        EXPECT_TRUE(r == 0 || r == bytes.size());
        for (const auto& pair : p.pairs) {
            EXPECT_FALSE(pair.first.contains(';'));
            EXPECT_FALSE(pair.second.contains(';'));
        }
    }
}

TEST(DeviceTypes, ThirteenRows) {
    const auto& t = deviceTypes();
    ASSERT_EQ(t.size(), 13u);
    EXPECT_EQ(t[0].feature, QStringLiteral("any"));
    EXPECT_EQ(t[3].feature, QStringLiteral("aoip.c/kb"));
    EXPECT_TRUE(t[7].serverKey.isEmpty());
    EXPECT_TRUE(t[7].portKey.isEmpty());
    EXPECT_EQ(t[11].serverKey, QStringLiteral("smart_poc/poc.server.ip"));
    EXPECT_EQ(t[11].portKey, QStringLiteral("smart_poc.poc.server.port"));
    EXPECT_TRUE(t[12].feature.isEmpty());
    EXPECT_STREQ(t[12].label, "未授权");
    EXPECT_TRUE(DeviceCode::isKnownReply(0x23));
    EXPECT_FALSE(DeviceCode::isKnownReply(0x11));
    EXPECT_FALSE(DeviceCode::isKnownReply(0x02));
}
