// Configuration commands: requests are read back from a real loopback socket standing
// in for the terminals; replies go through the discovery unit as from the network.
#include "boxanswerer.h"
#include "devicelink/deviceconfigurator.h"
#include "devicelink/devicediscovery.h"
#include "qtapp.h"

#include <QSignalSpy>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <utility>

namespace {

using Pairs = std::vector<std::pair<QByteArray, QByteArray>>;
using Builder = bool (DeviceConfigurator::*)(DeviceInfo&);

const char kTouched[] = "2030-05-06 07:08:09";
const char kReplyTime[] = "2030-01-01 00:00:00";

struct Signal {
    QString id, column, value;
    bool operator==(const Signal& o) const {
        return id == o.id && column == o.column && value == o.value;
    }
};

std::ostream& operator<<(std::ostream& os, const Signal& s) {
    return os << "(" << s.id.toStdString() << ", " << s.column.toStdString() << ", "
              << s.value.toStdString() << ")";
}

// A terminal as a scan leaves it: both halves equal.
DeviceInfo terminal(const char* id, const char* hw = "02:00:00:00:00:01") {
    DeviceInfo d;
    const std::pair<MyString DeviceInfo::*, const char*> values[] = {
        {&DeviceInfo::devId, id},
        {&DeviceInfo::hwAddr, hw},
        {&DeviceInfo::proto, "static"},
        {&DeviceInfo::address, "10.0.0.5"},
        {&DeviceInfo::netmask, "255.255.255.0"},
        {&DeviceInfo::gateway, "10.0.0.1"},
        {&DeviceInfo::server, "10.0.0.2"},
        {&DeviceInfo::port, "8000"},
        {&DeviceInfo::aoVolume, "7"},
        {&DeviceInfo::aiVolume, "5"},
        {&DeviceInfo::time, "2026-01-01 00:00:00"},
        {&DeviceInfo::notice, "ok"},
        {&DeviceInfo::bootSound, "1"},
        {&DeviceInfo::devName, "hall"},
        {&DeviceInfo::wifiName, "office"},
        {&DeviceInfo::wifiPwd, "secret"},
        {&DeviceInfo::inputDbUpperBound, "14"},
        {&DeviceInfo::outputDbUpperBound, "0"},
        {&DeviceInfo::rebootAt, "03:00"},
        {&DeviceInfo::rebootEnable, "0"},
    };
    for (const auto& v : values)
        (d.*(v.first)).setBoth(QString::fromUtf8(v.second));
    return d;
}

class Configurator : public ::testing::Test {
protected:
    Configurator() {
        ensureQtApp();
        EXPECT_TRUE(peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
        discovery.setBroadcastTargets({QHostAddress(QHostAddress::LocalHost)});
        discovery.setDestinationPort(peer.localPort());
        discovery.setClock(
            [] { return QDateTime::fromString(kReplyTime, deviceTimeFormat).toMSecsSinceEpoch(); });
        model.setClock([] { return QDateTime::fromString(kTouched, deviceTimeFormat); });
        QObject::connect(&configurator, &DeviceConfigurator::updateDeviceColumnValue,
                         [this](const QString& id, const QString& column, const QString& value) {
                             signals_.push_back({id, column, value});
                         });
        QObject::connect(&discovery, &DeviceDiscovery::countTextChanged,
                         [this] { ++countRefreshes; });
        for (const char* id : {"T1", "T2", "T3"})
            model.addOrUpdate(terminal(id, id));
    }

    DeviceInfo& row(const char* id) { return *model.find(QLatin1String(id)); }
    int rowOf(const char* id) {
        for (int r = 0; r < model.rowCount(); ++r)
            if (model.deviceAt(r)->devId.reported == QLatin1String(id))
                return r;
        return -1;
    }

    // Every request the terminals' socket received since the last call.
    std::vector<DevicePacket> sent() {
        std::vector<DevicePacket> out;
        while (peer.hasPendingDatagrams()) {
            QByteArray bytes(int(peer.pendingDatagramSize()), '\0');
            peer.readDatagram(bytes.data(), bytes.size());
            DevicePacket p;
            EXPECT_EQ(p.unmarshal(bytes.constData(), bytes.size()), bytes.size());
            out.push_back(p);
        }
        return out;
    }

    void reply(uint8_t code, std::initializer_list<std::pair<const char*, const char*>> pairs) {
        DevicePacket p;
        p.code = code;
        for (const auto& kv : pairs)
            p.insert(kv.first, QByteArray(kv.second));
        discovery.handleReply(QHostAddress(QStringLiteral("10.0.0.99")), p);
    }

    std::vector<Signal> takeSignals() { return std::exchange(signals_, {}); }

    QUdpSocket peer;
    DevicesModel model;
    DeviceDiscovery discovery{&model};
    DeviceConfigurator configurator{&discovery, nullptr};
    std::vector<Signal> signals_;
    int countRefreshes = 0;
};

Pairs pairsOf(const DevicePacket& p) {
    return Pairs(p.pairs.begin(), p.pairs.end());
}

std::vector<int> codes(const std::vector<DevicePacket>& packets) {
    std::vector<int> out;
    for (const DevicePacket& p : packets)
        out.push_back(p.code);
    return out;
}

} // namespace

TEST_F(Configurator, BuildersSendTheirChangedValuesAndRecordTheStatus) {
    struct Case {
        const char* name;
        std::function<void(DeviceInfo&)> edit;
        Builder build;
        int tab;
        int code; // -1: nothing is sent
        Pairs pairs;
        const char* notice; // nullptr: NOTICE unchanged
        const char* signal; // nullptr: no signal
    };
    const Case cases[] = {
        {"network untouched",
         [](DeviceInfo&) {},
         &DeviceConfigurator::buildNetworkRequest,
         0,
         -1,
         {},
         nullptr,
         nullptr},
        {"address edited under dhcp",
         [](DeviceInfo& d) {
             d.proto.setBoth("dhcp");
             d.address.current = "10.0.0.50";
         },
         &DeviceConfigurator::buildNetworkRequest,
         0,
         -1,
         {},
         nullptr,
         nullptr},
        {"dhcp switched to static with a new address",
         [](DeviceInfo& d) {
             d.proto.setBoth("dhcp");
             d.proto.current = "static";
             d.address.current = "10.0.0.50";
         },
         &DeviceConfigurator::buildNetworkRequest,
         0,
         0x02,
         {{"ADDRESS", "10.0.0.50"},
          {"GATEWAY", "10.0.0.1"},
          {"NETMASK", "255.255.255.0"},
          {"PROTO", "static"}},
         "Network config request is sent",
         "Network config request is sent"},
        {"netmask edited under static",
         [](DeviceInfo& d) { d.netmask.current = "255.0.0.0"; },
         &DeviceConfigurator::buildNetworkRequest,
         0,
         0x02,
         {{"ADDRESS", "10.0.0.5"},
          {"GATEWAY", "10.0.0.1"},
          {"NETMASK", "255.0.0.0"},
          {"PROTO", "static"}},
         "Network config request is sent",
         "Network config request is sent"},
        {"static switched to dhcp",
         [](DeviceInfo& d) { d.proto.current = "dhcp"; },
         &DeviceConfigurator::buildNetworkRequest,
         0,
         0x02,
         {{"ADDRESS", "10.0.0.5"},
          {"GATEWAY", "10.0.0.1"},
          {"NETMASK", "255.255.255.0"},
          {"PROTO", "dhcp"}},
         "Network config request is sent",
         "Network config request is sent"},
        {"server and port",
         [](DeviceInfo& d) {
             d.server.current = "10.0.0.3";
             d.port.current = "9000";
         },
         &DeviceConfigurator::buildAppConfigRequest,
         0,
         0x04,
         {{"bcast-client/server.ip", "10.0.0.3"}, {"bcast-client/server.port", "9000"}},
         "App config request is sent",
         "App config request is sentt"},
        {"port only under POC",
         [](DeviceInfo& d) { d.port.current = "9000"; },
         &DeviceConfigurator::buildAppConfigRequest,
         10,
         0x04,
         {{"smart_poc.poc.server.port", "9000"}},
         "App config request is sent",
         "App config request is sentt"},
        {"port only under row 7",
         [](DeviceInfo& d) { d.port.current = "9000"; },
         &DeviceConfigurator::buildAppConfigRequest,
         7,
         0x04,
         {{"", "9000"}},
         "App config request is sent",
         "App config request is sentt"},
        {"port only under row 12",
         [](DeviceInfo& d) { d.port.current = "9000"; },
         &DeviceConfigurator::buildAppConfigRequest,
         12,
         0x04,
         {{"", "9000"}},
         "App config request is sent",
         "App config request is sentt"},
        {"server untouched",
         [](DeviceInfo&) {},
         &DeviceConfigurator::buildAppConfigRequest,
         0,
         -1,
         {},
         nullptr,
         nullptr},
        {"input volume only",
         [](DeviceInfo& d) { d.aiVolume.current = "9"; },
         &DeviceConfigurator::buildVolumeRequest,
         0,
         0x0A,
         {{"AI_VOLUME", "9"}},
         "Volume config request is sent",
         "Volume config request is sent"},
        {"both volumes",
         [](DeviceInfo& d) {
             d.aiVolume.current = "9";
             d.aoVolume.current = "1";
         },
         &DeviceConfigurator::buildVolumeRequest,
         0,
         0x0A,
         {{"AI_VOLUME", "9"}, {"AO_VOLUME", "1"}},
         "Volume config request is sent",
         "Volume config request is sent"},
        {"boot sound",
         [](DeviceInfo& d) { d.bootSound.current = "0"; },
         &DeviceConfigurator::buildBootSoundRequest,
         0,
         0x0C,
         {{"BOOT_SOUND", "0"}},
         "request is sent",
         nullptr},
        {"device name in Chinese",
         [](DeviceInfo& d) { d.devName.current = "大厅 音柱"; },
         &DeviceConfigurator::buildDevNameRequest,
         0,
         0x0E,
         {{"DEV_NAME", "大厅 音柱"}},
         "request is sent",
         nullptr},
        {"wifi password only",
         [](DeviceInfo& d) { d.wifiPwd.current = "n3w"; },
         &DeviceConfigurator::buildWifiRequest,
         0,
         0x12,
         {{"WIFI_NAME", "office"}, {"WIFI_PWD", "n3w"}},
         "wifi config request is sent",
         nullptr},
        {"reboot switch only",
         [](DeviceInfo& d) { d.rebootEnable.current = "1"; },
         &DeviceConfigurator::buildRebootScheduleRequest,
         0,
         0x18,
         {{"REBOOT_ENABLE", "1"}},
         "dev reboot config request is sent",
         "dev reboot config request is sent"},
        {"output bound only",
         [](DeviceInfo& d) { d.outputDbUpperBound.current = "-6"; },
         &DeviceConfigurator::buildDbUpperBoundRequest,
         0,
         0x16,
         {{"OUTPUT_DB_UPPER_BOUND", "-6"}},
         "DBUpperBound config request is sent",
         "DBUpperBound config request is sent"},
        // Refused: the terminal would read another value than the one entered.
        {"separator in a wifi password",
         [](DeviceInfo& d) { d.wifiPwd.current = "a;b"; },
         &DeviceConfigurator::buildWifiRequest,
         0,
         -1,
         {},
         "Not sent: a value contains ';'",
         nullptr},
        // Only the first "=" of a segment separates key and value, so "=" travels safely.
        {"equals sign in a wifi password",
         [](DeviceInfo& d) { d.wifiPwd.current = "a=b"; },
         &DeviceConfigurator::buildWifiRequest,
         0,
         0x12,
         {{"WIFI_NAME", "office"}, {"WIFI_PWD", "a=b"}},
         "wifi config request is sent",
         nullptr},
        {"separator in an address",
         [](DeviceInfo& d) { d.address.current = "10.0.0.5;x"; },
         &DeviceConfigurator::buildNetworkRequest,
         0,
         -1,
         {},
         "Not sent: a value contains ';'",
         "Not sent: a value contains ';'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        model.clear();
        model.addOrUpdate(terminal("T1"));
        discovery.setDeviceTypeIndex(c.tab);
        DeviceInfo& d = row("T1");
        c.edit(d);
        const DeviceInfo before = d;
        const bool sentOne = (configurator.*(c.build))(d);
        const std::vector<DevicePacket> packets = sent();
        EXPECT_EQ(sentOne, c.code >= 0);
        ASSERT_EQ(packets.size(), c.code >= 0 ? 1u : 0u);
        if (c.code >= 0) {
            const DevicePacket& p = packets.front();
            EXPECT_EQ(p.code, c.code);
            EXPECT_EQ(p.fixed3, 1);
            EXPECT_EQ(p.fixed4, 1);
            EXPECT_STREQ(p.targetHwAddr, "02:00:00:00:00:01");
            EXPECT_STREQ(p.targetDevId, "T1");
            EXPECT_EQ(pairsOf(p), c.pairs);
        }
        const DeviceInfo& after = row("T1");
        EXPECT_EQ(after.notice.current,
                  c.notice ? QString::fromUtf8(c.notice) : before.notice.current);
        EXPECT_EQ(after.notice.reported, before.notice.reported);
        EXPECT_EQ(after.time.current, QLatin1String(c.notice ? kTouched : "2026-01-01 00:00:00"));
        // Sending keeps the edits: only the reply makes them reported.
        for (int i = 0; i < DeviceInfo::fieldCount; ++i) {
            if (i == 11 || i == 12) // TIME and NOTICE
                continue;
            EXPECT_EQ(after.field(i)->current, before.field(i)->current) << i;
        }
        std::vector<Signal> want;
        if (c.signal)
            want.push_back({"T1", "NOTICE", QString::fromUtf8(c.signal)});
        EXPECT_EQ(takeSignals(), want);
    }
}

TEST_F(Configurator, ARequestWhoseTargetDoesNotFitIsRefusedWithAnError) {
    DeviceInfo d = terminal("A-DEV-ID-OF-17-CH");
    model.addOrUpdate(d);
    DeviceInfo& r = row("A-DEV-ID-OF-17-CH");
    r.aiVolume.current = "3";
    EXPECT_FALSE(configurator.buildVolumeRequest(r));
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(r.notice.current, "Not sent: the request does not fit a datagram");
    EXPECT_EQ(r.aiVolume.current, "3");
}

TEST_F(Configurator, EditsOfTheImmediateColumnsAreSentAtOnce) {
    QObject::connect(&model, &DevicesModel::deviceEdited, &configurator,
                     &DeviceConfigurator::onDeviceEdited);
    const struct {
        const char* column;
        const char* value;
        int code; // -1: waits for "Apply config" or "Wifi conn"
    } cases[] = {
        {"DEV_NAME", "lobby", 0x0E},
        {"AO_VOLUME", "2", 0x0A},
        {"AI_VOLUME", "2", 0x0A},
        {"SERVER", "10.0.0.9", 0x04},
        {"PORT", "7000", 0x04},
        {"BOOT_SOUND", "0", 0x0C},
        {"INPUT_DB_UPPER_BOUND", "20", 0x16},
        {"OUTPUT_DB_UPPER_BOUND", "-3", 0x16},
        {"REBOOT_AT", "04:00", 0x18},
        {"REBOOT_ENABLE", "1", 0x18},
        {"PROTO", "dhcp", -1},
        {"ADDRESS", "10.0.0.7", -1},
        {"NETMASK", "255.0.0.0", -1},
        {"GATEWAY", "10.0.0.254", -1},
        {"WIFI_NAME", "home", -1},
        {"WIFI_PWD", "pw", -1},
        {"DEV_NAME", "hall", -1}, // the reported value: nothing changed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.column);
        model.clear();
        model.addOrUpdate(terminal("T1"));
        ASSERT_TRUE(model.setData(
            model.index(0, DevicesModel::columnIndex(QLatin1String(c.column))), c.value));
        const std::vector<int> want = c.code < 0 ? std::vector<int>{} : std::vector<int>{c.code};
        EXPECT_EQ(codes(sent()), want);
    }
}

TEST_F(Configurator, ApplyConfigRunsEveryBuilderPerSelectedRowInOrder) {
    // A name edit whose reply has not come yet is sent again with the rest.
    DeviceInfo& t2 = row("T2");
    t2.devName.current = "renamed";
    t2.aiVolume.current = "1";
    t2.proto.current = "dhcp";
    t2.bootSound.current = "0";
    DeviceInfo& t1 = row("T1");
    t1.rebootAt.current = "05:00";
    t1.wifiName.current = "guest";
    t1.server.current = "10.0.0.8";
    t1.outputDbUpperBound.current = "3";
    configurator.applyConfigChange({rowOf("T2"), rowOf("T3"), rowOf("T1")});
    std::vector<std::pair<std::string, int>> got;
    for (const DevicePacket& p : sent())
        got.push_back({p.targetDevId, p.code});
    const std::vector<std::pair<std::string, int>> want = {
        {"T2", 0x02}, {"T2", 0x0A}, {"T2", 0x0C}, {"T2", 0x0E},
        {"T1", 0x04}, {"T1", 0x12}, {"T1", 0x18}, {"T1", 0x16},
    };
    EXPECT_EQ(got, want);
}

TEST_F(Configurator, BatchSettingsLandInTheirFieldsAndSendTheirRequests) {
    configurator.dealDeviceSet(QStringLiteral("T2"), {{"AI_VOLUME", "3"},
                                                      {"BROADCAST_SERVER", "10.0.0.7"},
                                                      {"BROADCAST_PORT", "9100"},
                                                      {"INPUT_DB_UPPER_BOUND", "12"},
                                                      {"REBOOT_AT", "01:00"},
                                                      {"ADDRESS", "10.0.0.60"},
                                                      {"DEV_NAME", "ignored"}});
    std::vector<DevicePacket> packets = sent();
    EXPECT_EQ(codes(packets), (std::vector<int>{0x0A, 0x04, 0x16, 0x18, 0x02}));
    EXPECT_EQ(pairsOf(packets[1]), (Pairs{{"bcast-client/server.ip", "10.0.0.7"},
                                          {"bcast-client/server.port", "9100"}}));
    EXPECT_EQ(row("T2").devName.current, "hall");
    EXPECT_EQ(row("T2").address.current, "10.0.0.60");

    // Under DHCP the address is kept but not sent; an unknown terminal is ignored.
    row("T3").proto.setBoth("dhcp");
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    configurator.dealDeviceSet(QStringLiteral("T3"), {{"ADDRESS", "10.0.0.61"}});
    configurator.dealDeviceSet(QStringLiteral("T9"), {{"AI_VOLUME", "1"}});
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(row("T3").address.current, "10.0.0.61");
    EXPECT_EQ(changed.count(), 1);
}

TEST_F(Configurator, RepliesWriteTheConfirmedValuesIntoTheirRows) {
    struct Expect {
        MyString DeviceInfo::*field;
        const char* reported;
        const char* current;
    };
    struct Case {
        const char* name;
        int tab;
        uint8_t code;
        std::vector<std::pair<const char*, const char*>> pairs;
        std::vector<Expect> fields;
        std::vector<Signal> emitted;
        bool finished; // TIME taken from the reply and the row touched
    };
    // The row before each reply: every value edited to "E" in `current`.
    const Case cases[] = {
        {"network",
         0,
         0x03,
         {{"DEV_ID", "T1"},
          {"PROTO", "static"},
          {"ADDRESS", "10.0.0.9"},
          {"NETMASK", "255.0.0.0"},
          {"GATEWAY", "10.0.0.254"},
          {"message", "done"}},
         {{&DeviceInfo::proto, "static", "E"},
          {&DeviceInfo::address, "10.0.0.9", "E"},
          {&DeviceInfo::netmask, "255.0.0.0", "E"},
          {&DeviceInfo::gateway, "10.0.0.254", "E"},
          {&DeviceInfo::notice, "done", "done"}},
         {{"T1", "PROTO", "static"},
          {"T1", "ADDRESS", "10.0.0.9"},
          {"T1", "NETMASK", "255.0.0.0"},
          {"T1", "GATEWAY", "10.0.0.254"},
          {"T1", "NOTICE", "done"}},
         true},
        {"app config clearing the server",
         0,
         0x05,
         {{"DEV_ID", "T1"}, {"bcast-client/server.ip", ""}, {"message", "m"}},
         {{&DeviceInfo::server, "", "E"},
          {&DeviceInfo::port, "8000", "E"},
          {&DeviceInfo::notice, "m", "m"}},
         {},
         true},
        {"app config under POC",
         10,
         0x05,
         {{"DEV_ID", "T1"},
          {"smart_poc/poc.server.ip", "1.2.3.4"},
          {"smart_poc.poc.server.port", "99"},
          {"bcast-client/server.ip", "9.9.9.9"}},
         {{&DeviceInfo::server, "1.2.3.4", "E"},
          {&DeviceInfo::port, "99", "E"},
          {&DeviceInfo::notice, "ok", "E"}},
         {},
         true},
        {"play sound",
         0,
         0x07,
         {{"DEV_ID", "T1"}, {"message", "played"}, {"DEV_NAME", "x"}},
         {{&DeviceInfo::notice, "played", "played"}, {&DeviceInfo::devName, "hall", "E"}},
         {},
         true},
        {"reboot",
         0,
         0x09,
         {{"DEV_ID", "T1"}, {"DEV_NAME", "lobby"}, {"message", "m"}},
         {{&DeviceInfo::devName, "lobby", "E"}, {&DeviceInfo::notice, "ok", "E"}},
         {},
         true},
        {"one volume",
         0,
         0x0B,
         {{"DEV_ID", "T1"}, {"AI_VOLUME", "5"}},
         {{&DeviceInfo::aiVolume, "5", "E"},
          {&DeviceInfo::aoVolume, "7", "E"},
          {&DeviceInfo::notice, "ok", "E"}},
         {{"T1", "AI_VOLUME", "5"}},
         true},
        {"both volumes with a message",
         0,
         0x0B,
         {{"DEV_ID", "T1"}, {"AI_VOLUME", "1"}, {"AO_VOLUME", "2"}, {"message", "v"}},
         {{&DeviceInfo::aiVolume, "1", "E"},
          {&DeviceInfo::aoVolume, "2", "E"},
          {&DeviceInfo::notice, "v", "v"}},
         {{"T1", "AI_VOLUME", "1"}, {"T1", "AO_VOLUME", "2"}, {"T1", "NOTICE", "v"}},
         true},
        {"boot sound",
         0,
         0x0D,
         {{"DEV_ID", "T1"}, {"BOOT_SOUND", "0"}, {"message", "b"}},
         {{&DeviceInfo::bootSound, "1", "E"}, {&DeviceInfo::notice, "b", "b"}},
         {},
         true},
        {"device name",
         0,
         0x0F,
         {{"DEV_ID", "T1"}, {"DEV_NAME", "大厅"}, {"message", "m"}},
         {{&DeviceInfo::devName, "大厅", "E"}, {&DeviceInfo::notice, "ok", "E"}},
         {},
         true},
        {"wifi",
         0,
         0x13,
         {{"DEV_ID", "T1"}, {"WIFI_NAME", "n"}, {"WIFI_PWD", "p"}, {"message", "w"}},
         {{&DeviceInfo::wifiName, "n", "n"},
          {&DeviceInfo::wifiPwd, "p", "p"},
          {&DeviceInfo::notice, "w", "w"}},
         {},
         true},
        {"level bounds",
         0,
         0x17,
         {{"DEV_ID", "T1"}, {"OUTPUT_DB_UPPER_BOUND", "-3"}, {"message", "d"}},
         {{&DeviceInfo::outputDbUpperBound, "-3", "-3"},
          {&DeviceInfo::inputDbUpperBound, "14", "E"},
          {&DeviceInfo::notice, "d", "d"}},
         {{"T1", "OUTPUT_DB_UPPER_BOUND", "-3"}, {"T1", "NOTICE", "d"}},
         true},
        {"reboot schedule",
         0,
         0x19,
         {{"DEV_ID", "T1"}, {"REBOOT_AT", "04:00"}, {"REBOOT_ENABLE", "1"}},
         {{&DeviceInfo::rebootAt, "04:00", "04:00"},
          {&DeviceInfo::rebootEnable, "1", "1"},
          {&DeviceInfo::notice, "ok", "E"}},
         {{"T1", "REBOOT_AT", "04:00"}, {"T1", "REBOOT_ENABLE", "1"}},
         true},
        {"unknown terminal",
         0,
         0x0B,
         {{"DEV_ID", "T9"}, {"AI_VOLUME", "1"}, {"message", "x"}},
         {{&DeviceInfo::aiVolume, "5", "E"}, {&DeviceInfo::notice, "ok", "E"}},
         {},
         false},
        {"no DEV_ID",
         0,
         0x0F,
         {{"DEV_NAME", "x"}, {"message", "x"}},
         {{&DeviceInfo::devName, "hall", "E"}},
         {},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        model.clear();
        DeviceInfo start = terminal("T1");
        for (int i = 0; i < DeviceInfo::fieldCount; ++i)
            if (i != 0 && i != 2 && i != 11)
                start.field(i)->current = QStringLiteral("E");
        model.addOrUpdate(start);
        model.setClock([] { return QDateTime::fromString(kReplyTime, deviceTimeFormat); });
        discovery.setDeviceTypeIndex(c.tab);
        countRefreshes = 0;
        DevicePacket p;
        p.code = c.code;
        for (const auto& kv : c.pairs)
            p.insert(kv.first, QByteArray(kv.second));
        discovery.handleReply(QHostAddress(QStringLiteral("10.0.0.99")), p);

        const DeviceInfo& r = row("T1");
        for (const Expect& e : c.fields) {
            EXPECT_EQ((r.*(e.field)).reported, QString::fromUtf8(e.reported));
            EXPECT_EQ((r.*(e.field)).current, QString::fromUtf8(e.current));
        }
        EXPECT_EQ(takeSignals(), c.emitted);
        EXPECT_EQ(r.time.reported, QLatin1String(c.finished ? kReplyTime : "2026-01-01 00:00:00"));
        EXPECT_EQ(countRefreshes, 1);
        model.setClock([] { return QDateTime::fromString(kTouched, deviceTimeFormat); });
    }
}

TEST_F(Configurator, FilesystemReplyShowsTheProblemOrTheHealthyText) {
    std::vector<std::pair<QString, QString>> boxes;
    configurator.setShowResult([&](const QString& title, const QString& text) {
        boxes.push_back({title, text});
        // A scan started while the box is open empties the table under the handler.
        model.clear();
    });
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    const struct {
        const char* message; // nullptr: the key is missing
        const char* notice;
        bool box;
    } cases[] = {
        {"ok", "文件系统正常", false},
        {nullptr, "文件系统正常", false},
        {"/data: 3 bad blocks", "/data: 3 bad blocks", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.notice);
        model.clear();
        model.addOrUpdate(terminal("T1"));
        boxes.clear();
        changed.clear();
        countRefreshes = 0;
        if (c.message)
            reply(0x23, {{"DEV_ID", "T1"}, {"FILESYSTEM_MESSAGE", c.message}});
        else
            reply(0x23, {{"DEV_ID", "T1"}});
        ASSERT_EQ(boxes.size(), c.box ? 1u : 0u);
        EXPECT_EQ(changed.count(), 1);
        if (c.box) {
            EXPECT_EQ(boxes[0].first, "result");
            EXPECT_EQ(boxes[0].second, QString::fromUtf8(c.message));
            EXPECT_EQ(countRefreshes, 1);
            continue;
        }
        EXPECT_EQ(countRefreshes, 0);
        EXPECT_EQ(row("T1").notice.reported, QString::fromUtf8(c.notice));
        EXPECT_EQ(row("T1").notice.current, QString::fromUtf8(c.notice));
        EXPECT_EQ(row("T1").time.reported, "2026-01-01 00:00:00");
    }
}

TEST_F(Configurator, RebootAsksPerRowAndSkipsTheCancelledOne) {
    // While the first box is open a late scan reply inserts a row in front of
    // the others; the answers still go to the terminals they were asked for.
    BoxAnswerer answerer({QMessageBox::Ok, QMessageBox::Cancel, QMessageBox::Ok}, [&](int n) {
        if (n == 0)
            model.addOrUpdate(terminal("T0", "T0"));
    });
    configurator.rebootDevice({rowOf("T1"), rowOf("T2"), rowOf("T3")});
    ASSERT_EQ(answerer.seen().size(), 3u);
    for (const auto& box : answerer.seen()) {
        EXPECT_EQ(box.title, "Confirm");
        EXPECT_EQ(box.text, "Are you sure to reboot the selected deivce?");
    }
    std::vector<std::string> targets;
    for (const DevicePacket& p : sent()) {
        EXPECT_EQ(p.code, 0x08);
        EXPECT_TRUE(p.pairs.empty());
        targets.push_back(p.targetDevId);
    }
    EXPECT_EQ(targets, (std::vector<std::string>{"T1", "T3"}));
    EXPECT_EQ(row("T1").notice.current, "Reboot request is sent");
    EXPECT_EQ(row("T2").notice.current, "ok");
    EXPECT_EQ(row("T3").notice.current, "Reboot request is sent");
    EXPECT_TRUE(takeSignals().empty());
}

TEST_F(Configurator, TheDefaultResultBoxShowsAFailedCheck) {
    BoxAnswerer answerer({QMessageBox::Ok});
    reply(0x23, {{"DEV_ID", "T2"}, {"FILESYSTEM_MESSAGE", "read-only"}});
    ASSERT_EQ(answerer.seen().size(), 1u);
    EXPECT_EQ(answerer.seen()[0].title, "result");
    EXPECT_EQ(answerer.seen()[0].text, "read-only");
    EXPECT_EQ(row("T2").notice.current, "read-only");
}

TEST_F(Configurator, WifiConnStopsAtTheFirstRowWithoutCredentials) {
    row("T2").wifiPwd.current.clear();
    row("T3").wifiName.current = "other";
    configurator.wifiConn({rowOf("T1"), rowOf("T2"), rowOf("T3")});
    const std::vector<DevicePacket> packets = sent();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].code, 0x12);
    EXPECT_STREQ(packets[0].targetDevId, "T1");
    EXPECT_EQ(pairsOf(packets[0]), (Pairs{{"WIFI_NAME", "office"}, {"WIFI_PWD", "secret"}}));
    EXPECT_EQ(row("T1").notice.current, "wifi config request is sent");
    EXPECT_EQ(row("T3").notice.current, "ok");
}

TEST_F(Configurator, PlaySoundAndFilesystemChecksWithoutAnyCondition) {
    configurator.sendPlaySound({rowOf("T3"), rowOf("T1")});
    configurator.checkFilesystemStatus({rowOf("T2"), rowOf("T1")});
    std::vector<std::pair<std::string, int>> got;
    for (const DevicePacket& p : sent()) {
        EXPECT_TRUE(p.pairs.empty());
        got.push_back({p.targetDevId, p.code});
    }
    EXPECT_EQ(got,
              (std::vector<std::pair<std::string, int>>{{"T3", 0x06}, {"T2", 0x22}, {"T1", 0x22}}));
    EXPECT_EQ(row("T3").notice.current, "Play sound request is sent");
    EXPECT_EQ(row("T1").notice.current, "check filesystem status request is sent");
    EXPECT_EQ(row("T1").time.current, kTouched);
    EXPECT_TRUE(takeSignals().empty());
}
