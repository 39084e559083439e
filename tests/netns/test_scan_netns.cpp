// A real scan against a simulated fleet, inside a private network namespace.
#include "devicelink/devicediscovery.h"
#include "netns.h"
#include "qtapp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryFile>

#include <gtest/gtest.h>

namespace {

// What the fleet file below makes, described independently of the product code.
struct Expected {
    std::string devId; // empty: reports no DEV_ID
    std::string address;
    std::string f;
    std::string name;
    std::string pocServer;
    std::string pppd;
};

const char* const features[] = {"aoip.p", "aoip.c",   "aoip.p,aoip.c",  "aoip.c/kb",
                                "poc.s",  "aoip.svr", "aoip.p, aoip.c", ""};
const char* const names[] = {"dev-1", "my device ", "Dev"};

std::string fleetText() {
    return "[generate]\n"
           "@count = 40\n"
           "@first = 10.77.2.1\n"
           "F = {aoip.p|aoip.c|aoip.p,aoip.c|aoip.c/kb|poc.s|aoip.svr|aoip.p, aoip.c|}\n"
           "DEV_NAME = {dev-1|my device |Dev}{n}\n"
           "smart_poc/poc.server.ip = 10.77.9.{n}\n"
           "PPPD_MODULE_RECOGNITION = {0|1}\n"
           "\n"
           "[generate]\n"
           "@count = 5\n"
           "@first = 10.77.3.1\n"
           "@unset = DEV_ID\n"
           "F = aoip.p\n"
           "\n"
           "[generate]\n"
           "@defaults = no\n"
           "@count = 4\n"
           "@first = 10.77.5.1\n"
           "DEV_ID = E{n}\n"
           "F =\n"
           "\n"
           "[terminal]\n"
           "@bind = 10.77.4.1\n"
           "DEV_ID = CN-1\n"
           "DEV_NAME = 大厅 音柱\n"
           "WIFI_PWD = a=b\n"
           "F = aoip.p\n";
}

std::vector<Expected> expectedFleet() {
    std::vector<Expected> out;
    for (int i = 0; i < 40; ++i) {
        const std::string n = std::to_string(i + 1);
        char id[16];
        std::snprintf(id, sizeof id, "SIM%05d", i + 1);
        out.push_back({id, "10.77.2." + n, features[i % 8], names[i % 3] + n, "10.77.9." + n,
                       i % 2 ? "1" : "0"});
    }
    for (int i = 0; i < 5; ++i)
        out.push_back({"", "10.77.3." + std::to_string(i + 1), "aoip.p", "", "", "0"});
    for (int i = 0; i < 4; ++i)
        out.push_back(
            {"E" + std::to_string(i + 1), "10.77.5." + std::to_string(i + 1), "", "", "", "0"});
    out.push_back({"CN-1", "10.77.4.1", "aoip.p", "大厅 音柱", "", "0"});
    return out;
}

bool featureMatches(const std::string& f, const std::string& feature) {
    if (feature == "any")
        return true;
    if (feature.empty())
        return f.empty();
    size_t start = 0;
    for (;;) {
        const size_t comma = f.find(',', start);
        if (f.substr(start, comma - start) == feature)
            return true;
        if (comma == std::string::npos)
            return false;
        start = comma + 1;
    }
}

class ScanInNamespace : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!netns::enter(&why_))
            return;
        ensureQtApp();
        fleetFile_ = new QTemporaryFile;
        fleetFile_->open();
        fleetFile_->write(QByteArray::fromStdString(fleetText()));
        fleetFile_->flush();
        sim_ = new netns::Child;
        if (!sim_->start({TERMINAL_SIM_PATH, "--fleet", fleetFile_->fileName().toStdString(),
                          "--listen", netns::broadcastAddress},
                         &why_) ||
            !sim_->waitForLine("terminal-sim ready", 10000))
            why_ = "terminal-sim did not start: " + why_;
    }
    static void TearDownTestSuite() {
        delete sim_;
        sim_ = nullptr;
        delete fleetFile_;
        fleetFile_ = nullptr;
    }
    void SetUp() override {
        if (!sim_ || !why_.empty())
            GTEST_SKIP() << why_;
        discovery_.setCoalesceInterval(0);
    }

    // Scans with the default fan-out (every interface, then 255.255.255.255) and waits
    // until each terminal's reply has been read.
    void scan(int tab, int column = 0, const QString& keyword = QString()) {
        discovery_.setDeviceTypeIndex(tab);
        discovery_.setSearchColumn(column);
        discovery_.setSearchMessage(keyword);
        discovery_.sendScan();
        QElapsedTimer t;
        t.start();
        while (discovery_.repliesSinceScan() < int(fleet_.size()) && t.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        ASSERT_EQ(discovery_.repliesSinceScan(), int(fleet_.size()));
        discovery_.flushPending();
    }

    // Rows the filters should leave: one per DEV_ID, all id-less terminals in one.
    std::set<std::string> expectedIds(const std::string& feature,
                                      const std::function<bool(const Expected&)>& keyword) {
        std::set<std::string> ids;
        for (const Expected& e : fleet_)
            if (featureMatches(e.f, feature) && keyword(e))
                ids.insert(e.devId);
        return ids;
    }
    std::set<std::string> rowIds() {
        std::set<std::string> ids;
        for (int r = 0; r < model_.rowCount(); ++r)
            ids.insert(model_.deviceAt(r)->devId.reported.toStdString());
        return ids;
    }

    static std::string why_;
    static netns::Child* sim_;
    static QTemporaryFile* fleetFile_;
    std::vector<Expected> fleet_ = expectedFleet();
    DevicesModel model_;
    DeviceDiscovery discovery_{&model_};
};

std::string ScanInNamespace::why_;
netns::Child* ScanInNamespace::sim_ = nullptr;
QTemporaryFile* ScanInNamespace::fleetFile_ = nullptr;

} // namespace

TEST_F(ScanInNamespace, EveryTabFindsItsTerminals) {
    const auto all = [](const Expected&) { return true; };
    for (int tab : {0, 1, 2, 3, 4, 7, 10, 12}) {
        SCOPED_TRACE(tab);
        scan(tab);
        const std::string feature = deviceTypes()[size_t(tab)].feature.toStdString();
        EXPECT_EQ(rowIds(), expectedIds(feature, all));
        EXPECT_EQ(discovery_.countText(), QStringLiteral("%1 devices").arg(model_.rowCount()));
    }
}

TEST_F(ScanInNamespace, RowsCarryTheReportedValues) {
    scan(0);
    // Id-less terminals share one row.
    ASSERT_NE(model_.find(QString()), nullptr);
    EXPECT_EQ(model_.rowCount(), 45 + 1);
    for (const Expected& e : fleet_) {
        if (e.devId.empty())
            continue;
        SCOPED_TRACE(e.devId);
        const DeviceInfo* d = model_.find(QString::fromStdString(e.devId));
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->address.reported.toStdString(), e.address);
        EXPECT_EQ(d->f.reported.toStdString(), e.f);
        EXPECT_EQ(d->devName.reported.toStdString(), e.name);
        EXPECT_EQ(d->pppdModuleRecognition.reported.toStdString(), e.pppd);
    }
    const DeviceInfo* cn = model_.find(QStringLiteral("CN-1"));
    ASSERT_NE(cn, nullptr);
    EXPECT_EQ(cn->wifiPwd.reported, QStringLiteral("a=b"));
    EXPECT_TRUE(cn->iccid.reported.isEmpty());
    const DeviceInfo* sim7 = model_.find(QStringLiteral("SIM00007"));
    ASSERT_NE(sim7, nullptr);
    EXPECT_EQ(sim7->server.reported, QStringLiteral("10.77.0.1"));
    EXPECT_EQ(sim7->port.reported, QStringLiteral("8000"));
    EXPECT_EQ(sim7->iccid.reported, QStringLiteral("89860000000000000007"));
    EXPECT_EQ(sim7->hwAddr.reported, QStringLiteral("02:00:00:00:00:07"));
    EXPECT_EQ(sim7->notice.reported, QStringLiteral("ok"));

    // The POC tab reads its own server key, which the terminal reports when asked.
    scan(10);
    const DeviceInfo* poc = model_.find(QStringLiteral("SIM00005"));
    ASSERT_NE(poc, nullptr);
    EXPECT_EQ(poc->server.reported, QStringLiteral("10.77.9.5"));
    EXPECT_TRUE(poc->port.reported.isEmpty());
}

TEST_F(ScanInNamespace, KeywordFilters) {
    const struct {
        int tab;
        int column; // DEV_ID, DEV_NAME, ADDRESS
        const char* keyword;
        std::function<bool(const Expected&)> passes;
    } cases[] = {
        {0, 2, "10.77.2.1",
         [](const Expected& e) { return e.address.find("10.77.2.1") != std::string::npos; }},
        {0, 1, "dev*7",
         [](const Expected& e) {
             const size_t d = e.name.find("dev");
             return d != std::string::npos && e.name.find('7', d + 3) != std::string::npos;
         }},
        {1, 0, "SIM0001", [](const Expected& e) { return e.devId.rfind("SIM0001", 0) == 0; }},
        {0, 1, "大厅", [](const Expected& e) { return e.name == "大厅 音柱"; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keyword);
        scan(c.tab, c.column, QString::fromUtf8(c.keyword));
        const std::string feature = deviceTypes()[size_t(c.tab)].feature.toStdString();
        const auto want = expectedIds(feature, c.passes);
        EXPECT_FALSE(want.empty());
        EXPECT_EQ(rowIds(), want);
    }
}
