// An operator changes every configurable value of a simulated terminal from the main
// window and sees the terminal confirm it, inside a private network namespace.
#include "boxanswerer.h"
#include "devicelink/devicediscovery.h"
#include "devicetable/devicesmodel.h"
#include "netns.h"
#include "shell/mainwindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTableView>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

namespace {

const char kFleet[] = "[generate]\n"
                      "@count = 2\n"
                      "@first = 10.77.1.1\n"
                      "PROTO = dhcp\n"
                      "FILESYSTEM_MESSAGE = {ok|bad blocks on /data}\n";

// Values the operator enters, by column key, and what the terminal reports after.
const std::pair<const char*, const char*> kEdits[] = {
    {"DEV_NAME", "大厅 音柱"},
    {"AO_VOLUME", "3"},
    {"AI_VOLUME", "8"},
    {"SERVER", "10.77.0.9"},
    {"PORT", "9100"},
    {"BOOT_SOUND", "0"},
    {"INPUT_DB_UPPER_BOUND", "18"},
    {"OUTPUT_DB_UPPER_BOUND", "-6"},
    {"REBOOT_AT", "04:30"},
    {"REBOOT_ENABLE", "1"},
    // Held until "Apply config".
    {"PROTO", "static"},
    {"ADDRESS", "10.77.1.51"},
    {"NETMASK", "255.255.255.0"},
    {"GATEWAY", "10.77.1.254"},
    {"WIFI_NAME", "office"},
    {"WIFI_PWD", "s3cret"},
};

class ConfigInNamespace : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!netns::enter(&why_))
            return;
        sim_ = new netns::Child;
        netns::startSimulator(*sim_, TERMINAL_SIM_PATH, kFleet,
                              {"--listen", netns::broadcastAddress, "--reboot-silence", "0"},
                              &why_);
    }
    static void TearDownTestSuite() {
        delete sim_;
        sim_ = nullptr;
    }
    void SetUp() override {
        if (!sim_ || !why_.empty())
            GTEST_SKIP() << why_;
        window_.discovery()->setCoalesceInterval(0);
    }

    // Runs the event loop until `done` holds; false when it never did.
    static bool waitFor(const std::function<bool()>& done) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        return done();
    }

    DevicesModel* model() { return window_.model(); }
    DeviceInfo* device(const char* id) { return model()->find(QLatin1String(id)); }
    int rowOf(const char* id) {
        for (int r = 0; r < model()->rowCount(); ++r)
            if (model()->deviceAt(r)->devId.reported == QLatin1String(id))
                return r;
        return -1;
    }
    void select(const char* id) {
        QItemSelectionModel* sel = window_.tableView()->selectionModel();
        sel->clearSelection();
        sel->select(model()->index(rowOf(id), 1),
                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    void scan() {
        window_.sendScan();
        ASSERT_TRUE(waitFor([&] { return model()->rowCount() == 2; }));
    }

    static std::string why_;
    static netns::Child* sim_;
    MainWindow window_;
};

std::string ConfigInNamespace::why_;
netns::Child* ConfigInNamespace::sim_ = nullptr;

} // namespace

TEST_F(ConfigInNamespace, EveryEditIsAppliedConfirmedAndFoundByTheNextScan) {
    scan();
    select("SIM00001");
    // What open dialogs would be told, through the window's signal.
    std::vector<std::array<QString, 3>> told;
    QObject::connect(&window_, &MainWindow::updateDeviceColumnValue,
                     [&](const QString& id, const QString& column, const QString& value) {
                         told.push_back({id, column, value});
                     });
    for (const auto& edit : kEdits)
        ASSERT_TRUE(model()->setData(
            model()->index(rowOf("SIM00001"), DevicesModel::columnIndex(QLatin1String(edit.first))),
            QString::fromUtf8(edit.second)))
            << edit.first;
    QAction* apply = window_.action(MainWindow::ApplyConfigAction);
    ASSERT_TRUE(apply->isEnabled());
    apply->trigger();

    // The replies make the row unmodified; BOOT_SOUND stays changed because its
    // reply reports only a message.
    const auto confirmed = [&] {
        DeviceInfo* d = device("SIM00001");
        for (int i = 0; i < DeviceInfo::fieldCount; ++i)
            if (i != 11 && i != 12 && d->field(i) != &d->bootSound && d->field(i)->isModified())
                return false;
        return true;
    };
    ASSERT_TRUE(waitFor(confirmed));
    EXPECT_FALSE(apply->isEnabled());
    EXPECT_EQ(device("SIM00001")->bootSound.reported, "1");
    EXPECT_EQ(device("SIM00001")->address.reported, "10.77.1.51");
    EXPECT_FALSE(device("SIM00001")->notice.reported.isEmpty());
    for (const std::array<QString, 3>& want :
         {std::array<QString, 3>{"SIM00001", "NOTICE", "Volume config request is sent"},
          {"SIM00001", "AI_VOLUME", "8"},
          {"SIM00001", "ADDRESS", "10.77.1.51"},
          {"SIM00001", "NOTICE", "network config applied"}})
        EXPECT_NE(std::find(told.begin(), told.end(), want), told.end())
            << want[1].toStdString() << " " << want[2].toStdString();

    scan();
    const DeviceInfo* d = device("SIM00001");
    ASSERT_NE(d, nullptr);
    for (const auto& edit : kEdits) {
        SCOPED_TRACE(edit.first);
        const int column = DevicesModel::columnIndex(QLatin1String(edit.first));
        const MyString* field = DevicesModel::columns()[size_t(column)].getter(*device("SIM00001"));
        EXPECT_EQ(field->reported, QString::fromUtf8(edit.second));
        EXPECT_FALSE(field->isModified());
    }
    // The other terminal kept its values.
    EXPECT_EQ(device("SIM00002")->devName.reported, "sim-2");
    EXPECT_EQ(device("SIM00002")->proto.reported, "dhcp");
}

TEST_F(ConfigInNamespace, CheckPlayAndRebootWithTheirBoxesAnswered) {
    scan();
    select("SIM00002");
    BoxAnswerer answerer({QMessageBox::Ok, QMessageBox::Ok});
    // The context menu's "检查文件系统" runs the check of the selected rows.
    QAction* check = nullptr;
    for (QAction* a : window_.contextMenu()->actions())
        if (a->text() == QStringLiteral("检查文件系统"))
            check = a;
    ASSERT_NE(check, nullptr);
    check->trigger();
    ASSERT_TRUE(waitFor([&] { return answerer.seen().size() == 1; }));
    EXPECT_EQ(answerer.seen()[0].title, "result");
    EXPECT_EQ(answerer.seen()[0].text, "bad blocks on /data");
    EXPECT_EQ(device("SIM00002")->notice.reported, "bad blocks on /data");

    window_.sendPlaySound();
    ASSERT_TRUE(waitFor([&] { return device("SIM00002")->notice.reported == "sound played"; }));

    // The reboot reply carries only the name: the status text of the request stays.
    const int replies = window_.discovery()->repliesSinceScan();
    window_.rebootDevice();
    ASSERT_EQ(answerer.seen().size(), 2u);
    EXPECT_EQ(answerer.seen()[1].title, "Confirm");
    ASSERT_TRUE(waitFor([&] { return window_.discovery()->repliesSinceScan() > replies; }));
    EXPECT_EQ(device("SIM00002")->notice.current, "Reboot request is sent");
    EXPECT_EQ(device("SIM00002")->devName.reported, "sim-2");
}
