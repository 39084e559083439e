#include "devicelink/addressprobe.h"
#include "devicelink/ifacedlg.h"
#include "qtapp.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHostAddress>
#include <QPushButton>
#include <QSet>

#include <gtest/gtest.h>

namespace {

quint32 ip(const char* dotted) {
    return QHostAddress(QString::fromLatin1(dotted)).toIPv4Address();
}

QString dotted(quint32 address) {
    return QHostAddress(address).toString();
}

} // namespace

TEST(ProbeTargets, EveryHostOfTheSubnetOnceExceptTheLocalAddress) {
    struct Case {
        const char* local;
        const char* mask;
        int count;
        const char* first;
        const char* last;
    };
    const Case cases[] = {
        // A /24: host numbers 1 to 255, the broadcast address included.
        {"192.168.7.77", "255.255.255.0", 254, "192.168.7.1", "192.168.7.255"},
        {"192.168.7.1", "255.255.255.0", 254, "192.168.7.2", "192.168.7.255"},
        {"192.168.7.255", "255.255.255.0", 254, "192.168.7.1", "192.168.7.254"},
        // Longer prefixes: the subnet's own hosts, none twice, none left out.
        {"10.0.0.200", "255.255.255.128", 126, "10.0.0.129", "10.0.0.255"},
        {"10.0.0.20", "255.255.255.128", 126, "10.0.0.1", "10.0.0.127"},
        {"10.0.0.45", "255.255.255.240", 14, "10.0.0.33", "10.0.0.47"},
        {"10.0.0.6", "255.255.255.252", 2, "10.0.0.5", "10.0.0.7"},
        {"10.0.0.6", "255.255.255.254", 1, "10.0.0.7", "10.0.0.7"},
        {"10.0.0.6", "255.255.255.255", 0, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        const ProbeSegment segment{ip(c.local), ip(c.mask)};
        const QVector<quint32> targets = probeTargets(segment);
        SCOPED_TRACE(std::string(c.local) + "/" + c.mask);
        ASSERT_EQ(targets.size(), c.count);
        if (c.count == 0)
            continue;
        EXPECT_EQ(dotted(targets.front()).toStdString(), c.first);
        EXPECT_EQ(dotted(targets.back()).toStdString(), c.last);
        QSet<quint32> seen;
        for (quint32 t : targets) {
            EXPECT_EQ(t & segment.netmask, segment.address & segment.netmask)
                << dotted(t).toStdString();
            EXPECT_NE(t, segment.address);
            EXPECT_NE(t, segment.address & segment.netmask) << "the network address itself";
            EXPECT_FALSE(seen.contains(t)) << "asked twice: " << dotted(t).toStdString();
            seen.insert(t);
        }
    }
}

TEST(OfferedSegments, OnlyPrefixesOf24BitsOrLongerAndNotLoopback) {
    const QVector<ProbeSegment> entries = {
        {ip("127.0.0.1"), ip("255.255.255.255")}, {ip("10.77.0.1"), ip("255.255.0.0")},
        {ip("192.168.1.5"), ip("255.255.255.0")}, {ip("172.16.4.9"), ip("255.255.254.0")},
        {ip("10.9.9.9"), ip("255.255.255.252")},  {ip("127.0.0.2"), ip("255.255.255.0")},
    };
    const QVector<ProbeSegment> expected = {
        {ip("192.168.1.5"), ip("255.255.255.0")},
        {ip("10.9.9.9"), ip("255.255.255.252")},
        {ip("127.0.0.2"), ip("255.255.255.0")},
    };
    EXPECT_EQ(offeredSegments(entries), expected);
}

TEST(DeviceInfoResp, DecodesTheFieldsTheProbeReads) {
    DeviceInfoResp resp;
    std::string error;
    ASSERT_TRUE(vo::fromJson(error, resp,
                             R"({"message":"ok","value":{"device_id":"T-9","eth_ip":"10.1.2.3",
                                 "total":8589934592,"battery_val":-1,"route_dev_type":2,
                                 "dns0":"10.1.2.254"}})"))
        << error;
    EXPECT_EQ(resp.code, 200); // absent: success
    EXPECT_EQ(resp.value.device_id, "T-9");
    EXPECT_EQ(resp.value.eth_ip, "10.1.2.3");
    EXPECT_EQ(resp.value.total, 8589934592ull);
    EXPECT_EQ(resp.value.battery_val, -1);
    EXPECT_EQ(resp.value.route_dev_type, 2);
    EXPECT_EQ(resp.value.dns0, "10.1.2.254");

    // Encoding and decoding agree on every key.
    DeviceInfoResp back;
    ASSERT_TRUE(vo::fromJson(error, back, vo::toJson(resp, false))) << error;
    EXPECT_EQ(vo::toJson(back, false), vo::toJson(resp, false));

    DeviceInfoResp wrong;
    EXPECT_FALSE(vo::fromJson(error, wrong, R"({"value":{"device_id":7}})"));
    EXPECT_FALSE(error.empty());
}

class ProbeReplies : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureQtApp(); }
    DevicesModel model;
    AddressProbe probe{&model};

    void reply(const char* id, const char* ethIp, const std::string& error = std::string()) {
        DeviceInfoResp resp;
        resp.value.device_id = id;
        resp.value.eth_ip = ethIp;
        resp.value.gateway = "10.0.0.254";
        resp.value.station_id = "S1";
        probe.onProbeReply(resp, error);
    }
};

TEST_F(ProbeReplies, SuccessfulReplyBecomesRowWithOnlyIdAddressAndProto) {
    reply("T-1", "10.0.0.9");
    ASSERT_EQ(model.rowCount(), 1);
    const DeviceInfo* d = model.deviceAt(0);
    for (int i = 0; i < DeviceInfo::fieldCount; ++i) {
        const MyString* f = d->field(i);
        if (f == &d->devId || f == &d->address || f == &d->proto)
            continue;
        EXPECT_TRUE(f->reported.isEmpty() && f->current.isEmpty()) << "field " << i;
    }
    EXPECT_EQ(d->devId.reported, "T-1");
    EXPECT_EQ(d->devId.current, "T-1");
    EXPECT_EQ(d->address.reported, "10.0.0.9");
    EXPECT_EQ(d->address.current, "10.0.0.9");
    EXPECT_EQ(d->proto.reported, "-");
    EXPECT_EQ(d->proto.current, "-");
    EXPECT_EQ(probe.repliesReceived(), 1);
}

TEST_F(ProbeReplies, FailuresAndRepliesWithoutIdAreOnlyCounted) {
    reply("T-1", "10.0.0.9", kRestNetworkError);
    reply("T-2", "10.0.0.10", "json obj has parse error");
    reply("", "10.0.0.11");
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(probe.repliesReceived(), 3);
    // The same terminal answering twice (two addresses) stays one row.
    reply("T-3", "10.0.0.12");
    reply("T-3", "10.0.0.13");
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.deviceAt(0)->address.reported, "10.0.0.13");
    EXPECT_FALSE(probe.done()); // never started: replies alone do not end a run
}

TEST_F(ProbeReplies, ASegmentWithNothingToAskEndsAtOnce) {
    bool finished = false;
    QObject::connect(&probe, &AddressProbe::finished, [&] { finished = true; });
    probe.start({ip("10.0.0.6"), ip("255.255.255.255")});
    EXPECT_TRUE(finished);
    EXPECT_EQ(probe.requestsSent(), 0);
}

class ChooserDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureQtApp(); }

    void fillTable() {
        DeviceInfo d;
        d.devId.setBoth(QStringLiteral("OLD"));
        model.addOrUpdate(d);
    }

    DevicesModel model;
    QWidget window;
};

TEST_F(ChooserDialog, OffersOneItemPerSegmentInAGrid) {
    IFaceDlg dlg(&model, {{ip("127.0.0.1"), ip("255.0.0.0")},
                          {ip("192.168.1.5"), ip("255.255.255.0")},
                          {ip("10.77.0.1"), ip("255.255.0.0")},
                          {ip("10.9.9.9"), ip("255.255.255.252")}});
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("请选择要扫描的网段"));
    ASSERT_EQ(dlg.chooser()->count(), 2);
    EXPECT_EQ(dlg.chooser()->itemText(0), QStringLiteral("192.168.1.5"));
    EXPECT_EQ(dlg.chooser()->itemText(1), QStringLiteral("10.9.9.9"));
    ASSERT_EQ(dlg.segments().size(), 2);

    auto* grid = qobject_cast<QGridLayout*>(dlg.layout());
    ASSERT_NE(grid, nullptr);
    int row, column, rowSpan, columnSpan;
    grid->getItemPosition(grid->indexOf(dlg.chooser()), &row, &column, &rowSpan, &columnSpan);
    EXPECT_EQ(std::make_tuple(row, column, rowSpan, columnSpan), std::make_tuple(0, 0, 1, 2));
    grid->getItemPosition(grid->indexOf(dlg.okButton()), &row, &column, &rowSpan, &columnSpan);
    EXPECT_EQ(std::make_pair(row, column), std::make_pair(1, 0));
    grid->getItemPosition(grid->indexOf(dlg.cancelButton()), &row, &column, &rowSpan, &columnSpan);
    EXPECT_EQ(std::make_pair(row, column), std::make_pair(1, 1));
    EXPECT_EQ(dlg.okButton()->text(), QStringLiteral("OK"));
    EXPECT_EQ(dlg.cancelButton()->text(), QStringLiteral("Cancel"));
}

TEST_F(ChooserDialog, OkWithoutSegmentKeepsDialogOpenAndCancelDeletesIt) {
    fillTable();
    ProbeLauncher launcher(&model, &window);
    launcher.setSegmentSource([] {
        return QVector<ProbeSegment>{{ip("10.77.0.1"), ip("255.255.0.0")}};
    });
    int rowsWhenShown = -1;
    bool stayedOpen = false;
    QPointer<IFaceDlg> shown;
    launcher.setDialogRunner([&](IFaceDlg& dlg) {
        shown = &dlg;
        rowsWhenShown = model.rowCount();
        EXPECT_EQ(dlg.parentWidget(), &window);
        dlg.show();
        dlg.okButton()->click();
        stayedOpen = dlg.isVisible() && !dlg.probe()->started();
        dlg.cancelButton()->click();
    });
    launcher.ipProbe();
    EXPECT_EQ(rowsWhenShown, 0); // emptied before the dialog opens
    EXPECT_TRUE(stayedOpen);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(shown.isNull()) << "a cancelled dialog is deleted";
    EXPECT_EQ(model.rowCount(), 0);
}
