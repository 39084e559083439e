// The main window under the offscreen platform, with its discovery unit aimed at
// a UDP socket of this test on the loopback address: scans never leave the host.
#include "devicelink/addressprobe.h"
#include "devicelink/devicediscovery.h"
#include "devicelink/devicepacket.h"
#include "devicelink/ifacedlg.h"
#include "devicetable/devicedelegate.h"
#include "devicetable/devicesmodel.h"
#include "shell/action_rules.h"
#include "shell/app_settings.h"
#include "shell/language.h"
#include "shell/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTabBar>
#include <QTableView>
#include <QToolBar>
#include <QTranslator>
#include <QUdpSocket>

#include "test_support.h"

#include <gtest/gtest.h>

namespace {

using tesmo::test::waitFor;

int col(const char* key) {
    return DevicesModel::columnIndex(QLatin1String(key));
}

const char kIccid[] = "89860012345678901234";

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(terminal.bind(QHostAddress(QHostAddress::LocalHost), 0));
        DeviceDiscovery* d = window.discovery();
        d->setBroadcastTargets({QHostAddress(QHostAddress::LocalHost)});
        d->setDestinationPort(terminal.localPort());
        d->setCoalesceInterval(0);
        window.setScheduler([this](int ms, std::function<void()> fn) {
            delays.push_back(ms);
            pending.push_back(std::move(fn));
        });
        window.resize(1400, 700);
        window.show();
    }

    // Requests that reached the test's terminal socket.
    QList<DevicePacket> receivedPackets() {
        QList<DevicePacket> out;
        QCoreApplication::processEvents();
        while (terminal.waitForReadyRead(50) || terminal.hasPendingDatagrams()) {
            while (terminal.hasPendingDatagrams()) {
                QByteArray bytes(int(terminal.pendingDatagramSize()), '\0');
                QHostAddress from;
                quint16 port = 0;
                terminal.readDatagram(bytes.data(), bytes.size(), &from, &port);
                replyPort = port;
                DevicePacket p;
                if (p.unmarshal(bytes.constData(), bytes.size()))
                    out.append(p);
            }
        }
        return out;
    }

    // A terminal answers the window's socket, as one would after a scan.
    void reply(const QList<QPair<QByteArray, QByteArray>>& pairs) {
        DevicePacket p = DevicePacket::request(DeviceCode::Scan + 1);
        for (const auto& kv : pairs)
            p.insert(kv.first, kv.second);
        const QByteArray bytes = p.marshal();
        terminal.writeDatagram(bytes, QHostAddress::LocalHost,
                               window.discovery()->socket()->localPort());
    }

    // Three terminals: A (dhcp), B (static, long ICCID), C (static).
    void addThreeRows() {
        reply({{"DEV_ID", "A001"},
               {"DEV_NAME", "alpha"},
               {"PROTO", "dhcp"},
               {"ADDRESS", "10.9.0.11"},
               {"AO_VOLUME", "50"},
               {"ICCID", "1234567"}});
        reply({{"DEV_ID", "B002"},
               {"DEV_NAME", "beta"},
               {"PROTO", "static"},
               {"ADDRESS", "10.9.0.12"},
               {"ICCID", kIccid}});
        reply({{"DEV_ID", "C003"},
               {"DEV_NAME", "gamma"},
               {"PROTO", "static"},
               {"ADDRESS", "10.9.0.13"}});
        ASSERT_TRUE(waitFor([&] { return window.model()->rowCount() == 3; }));
    }

    int rowOf(const char* devId) {
        for (int r = 0; r < window.model()->rowCount(); ++r)
            if (window.model()->deviceAt(r)->devId.reported == QLatin1String(devId))
                return r;
        return -1;
    }

    void select(std::initializer_list<const char*> ids) {
        QItemSelectionModel* sel = window.tableView()->selectionModel();
        sel->clearSelection();
        for (const char* id : ids)
            sel->select(window.model()->index(rowOf(id), 1),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    bool enabled(MainWindow::ActionId id) { return window.action(id)->isEnabled(); }

    MainWindow window;
    QUdpSocket terminal;
    quint16 replyPort = 0;
    std::vector<int> delays;
    std::vector<std::function<void()>> pending;
};

} // namespace

TEST_F(WindowTest, ConstructionGivesTitleTabsActionsAndReadyStatus) {
    EXPECT_EQ(window.windowTitle(), "AoIP device managerv2.4.0607");
    EXPECT_GE(window.minimumWidth(), 1024);
    EXPECT_GE(window.minimumHeight(), 600);

    QTabBar* tabs = window.typeTabBar();
    ASSERT_EQ(tabs->count(), 13);
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(tabs->tabText(0), QString::fromUtf8("所有终端"));
    EXPECT_EQ(tabs->tabText(12), QString::fromUtf8("未授权"));

    const struct {
        const char* text;
        bool enabled;
    } expected[] = {
        {"Search", true},         {"Play sound", false},    {"Play local music", false},
        {"Apply config", false},  {"Revert change", false}, {"Reboot device", false},
        {"Update device", false}, {"Batch setting", false}, {"tts play", false},
        {"Wifi conn", false},     {"Search2", true},        {"Export", true},
        {"Device Export", false}, {"Device Import", true},  {"Printer setting", true},
        {"Language", true},       {"keyword search", true},
    };
    QToolBar* bar = window.findChild<QToolBar*>();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    const QList<QAction*> barActions = bar->actions();
    ASSERT_EQ(barActions.size(), 19); // 17 actions, then the chooser and the field
    for (int i = 0; i < MainWindow::ActionCount; ++i) {
        QAction* a = window.action(MainWindow::ActionId(i));
        EXPECT_EQ(barActions[i], a) << i;
        EXPECT_EQ(a->text(), expected[i].text) << i;
        EXPECT_EQ(a->isEnabled(), expected[i].enabled) << expected[i].text;
        EXPECT_FALSE(a->icon().isNull()) << expected[i].text;
    }

    QComboBox* chooser = window.keywordColumnChooser();
    ASSERT_EQ(chooser->count(), 3);
    EXPECT_EQ(chooser->itemText(0), "DEV_ID");
    EXPECT_EQ(chooser->itemText(2), "ADDRESS");
    EXPECT_EQ(window.keywordField()->maximumWidth(), 200);
    EXPECT_EQ(window.countLabel()->text(), QString::fromUtf8("就绪"));
    EXPECT_TRUE(window.messageLabel()->text().isEmpty());
    EXPECT_EQ(window.model()->rowCount(), 0);
    EXPECT_EQ(window.tableView()->horizontalHeader()->sortIndicatorSection(), col("ADDRESS"));
    EXPECT_EQ(window.contextMenu()->actions().size(), 3);
    EXPECT_NE(qobject_cast<DeviceDelegate*>(window.tableView()->itemDelegate()), nullptr);
    QHeaderView* header = window.tableView()->horizontalHeader();
    EXPECT_EQ(header->sectionResizeMode(col("NOTICE")), QHeaderView::Stretch);
    EXPECT_NE(header->sectionResizeMode(col("DEV_NAME")), QHeaderView::Stretch);
    EXPECT_TRUE(receivedPackets().isEmpty());
}

TEST_F(WindowTest, TabChangeSearchAndKeywordSearchScanButTypingDoesNot) {
    addThreeRows();
    receivedPackets();
    select({"A001"});
    ASSERT_TRUE(enabled(MainWindow::PlaySoundAction));

    window.typeTabBar()->setCurrentIndex(3);
    EXPECT_FALSE(enabled(MainWindow::PlaySoundAction)); // the emptied table has no selection
    QList<DevicePacket> scans = receivedPackets();
    ASSERT_EQ(scans.size(), 1);
    EXPECT_EQ(scans[0].code, DeviceCode::Scan);
    EXPECT_EQ(scans[0].value("feature"), "aoip.c/kb");
    EXPECT_EQ(window.model()->rowCount(), 0); // the table is emptied first

    window.keywordField()->setText("10.9");
    EXPECT_TRUE(receivedPackets().isEmpty());
    EXPECT_EQ(window.discovery()->searchKeyword(), "10.9");

    window.typeTabBar()->setCurrentIndex(0);
    receivedPackets();
    window.keywordColumnChooser()->setCurrentIndex(2);
    window.action(MainWindow::KeywordSearchAction)->trigger();
    scans = receivedPackets();
    ASSERT_EQ(scans.size(), 1);
    EXPECT_EQ(scans[0].value("feature"), "any");
    EXPECT_EQ(window.discovery()->searchColumn(), 2);

    // Replies to that scan pass the keyword filter on ADDRESS or are dropped.
    reply({{"DEV_ID", "K1"}, {"ADDRESS", "10.9.0.40"}});
    reply({{"DEV_ID", "K2"}, {"ADDRESS", "192.168.1.5"}});
    reply({{"DEV_ID", "K3"}, {"ADDRESS", "10.9.0.41"}});
    ASSERT_TRUE(waitFor([&] { return window.model()->rowCount() == 2; }));
    EXPECT_TRUE(waitFor([&] { return window.countLabel()->text() == "2 devices"; }))
        << window.countLabel()->text().toStdString();

    window.action(MainWindow::SearchAction)->trigger();
    EXPECT_EQ(receivedPackets().size(), 1);
    EXPECT_EQ(window.model()->rowCount(), 0);
}

TEST_F(WindowTest, ActionEnablingFollowsSelectionAndEdits) {
    addThreeRows();
    struct Edit {
        const char* devId;
        const char* column;
        const char* value;
    };
    const struct Case {
        const char* name;
        std::vector<const char*> selection;
        std::vector<Edit> edits;
        bool anySelected, single, modified;
    } cases[] = {
        {"nothing selected", {}, {}, false, false, false},
        {"one row", {"A001"}, {}, true, true, false},
        {"two rows", {"A001", "B002"}, {}, true, false, false},
        {"dhcp to static", {"A001"}, {{"A001", "PROTO", "static"}}, true, true, true},
        {"address under static", {"B002"}, {{"B002", "ADDRESS", "10.9.0.99"}}, true, true, true},
        {"address under dhcp", {"A001"}, {{"A001", "ADDRESS", "10.9.0.99"}}, true, true, false},
        {"device name", {"B002"}, {{"B002", "DEV_NAME", "renamed"}}, true, true, false},
        {"boot sound", {"B002"}, {{"B002", "BOOT_SOUND", "0"}}, true, true, false},
        {"volume", {"A001"}, {{"A001", "AO_VOLUME", "70"}}, true, true, true},
        {"wifi password", {"C003"}, {{"C003", "WIFI_PWD", "secret"}}, true, true, true},
        {"modified row not selected",
         {"C003"},
         {{"B002", "SERVER", "10.0.0.1"}},
         true,
         true,
         false},
        {"one of two modified", {"A001", "B002"}, {{"B002", "PORT", "9000"}}, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const Edit& e : c.edits)
            window.model()->setData(window.model()->index(rowOf(e.devId), col(e.column)),
                                    QString::fromUtf8(e.value));
        select({});
        QItemSelectionModel* sel = window.tableView()->selectionModel();
        for (const char* id : c.selection)
            sel->select(window.model()->index(rowOf(id), 1),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        for (auto id : {MainWindow::PlaySoundAction, MainWindow::PlayLocalMusicAction,
                        MainWindow::RebootDeviceAction, MainWindow::UpdateDeviceAction,
                        MainWindow::BatchSettingAction, MainWindow::WifiConnAction,
                        MainWindow::TtsPlayAction})
            EXPECT_EQ(enabled(id), c.anySelected) << window.action(id)->text().toStdString();
        EXPECT_EQ(enabled(MainWindow::DeviceExportAction), c.single);
        EXPECT_EQ(enabled(MainWindow::ApplyConfigAction), c.modified);
        EXPECT_EQ(enabled(MainWindow::RevertChangeAction), c.modified);
        for (auto id :
             {MainWindow::SearchAction, MainWindow::Search2Action, MainWindow::ExportAction,
              MainWindow::DeviceImportAction, MainWindow::PrinterSettingAction,
              MainWindow::LanguageAction, MainWindow::KeywordSearchAction})
            EXPECT_TRUE(enabled(id));
        // Put every row back for the next case.
        select({"A001", "B002", "C003"});
        window.revertChange();
    }
}

TEST_F(WindowTest, RevertRestoresEveryEditedCellOfTheSelectedRowsOnly) {
    addThreeRows();
    DevicesModel* m = window.model();
    m->setData(m->index(rowOf("B002"), col("PORT")), "9000");
    m->setData(m->index(rowOf("B002"), col("DEV_NAME")), "renamed");
    m->setData(m->index(rowOf("C003"), col("PORT")), "9001");
    select({"B002"});
    EXPECT_TRUE(enabled(MainWindow::RevertChangeAction));
    window.action(MainWindow::RevertChangeAction)->trigger();
    const DeviceInfo* b = m->find("B002");
    EXPECT_EQ(b->port.current, b->port.reported);
    EXPECT_EQ(b->devName.current, "beta");
    EXPECT_EQ(m->find("C003")->port.current, "9001");
    EXPECT_FALSE(enabled(MainWindow::ApplyConfigAction));
    EXPECT_FALSE(enabled(MainWindow::RevertChangeAction));
}

TEST_F(WindowTest, CopyUsesTheFullIccidOnlyWithOneRowSelected) {
    addThreeRows();
    QTableView* view = window.tableView();
    const QModelIndex iccid = window.model()->index(rowOf("B002"), col("ICCID"));
    const QString shown = iccid.data().toString();
    ASSERT_EQ(shown, "78901234");
    const QPoint at = view->visualRect(iccid).center();

    const struct {
        std::vector<const char*> selection;
        QString expected;
    } cases[] = {
        {{"B002"}, QString::fromLatin1(kIccid)},
        {{"A001", "B002"}, shown},
        {{}, shown},
    };
    for (const auto& c : cases) {
        select({});
        QItemSelectionModel* sel = view->selectionModel();
        for (const char* id : c.selection)
            sel->select(window.model()->index(rowOf(id), 1),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        window.showContextMenu(at);
        EXPECT_EQ(window.copyAction()->text(), "Copy to clipboard: " + c.expected);
        window.contextMenu()->hide();
        window.copyCellValue();
        EXPECT_EQ(QApplication::clipboard()->text(), c.expected);
        EXPECT_EQ(window.messageLabel()->text(), "\"" + c.expected + "\" is copied");
    }

    // A cell outside every row leaves the menu closed and the copy text alone.
    const QString before = window.copyAction()->text();
    window.showContextMenu(QPoint(5, view->viewport()->height() - 2));
    EXPECT_EQ(window.copyAction()->text(), before);
}

TEST_F(WindowTest, CopyMessageClearsAfterThreeSecondsUnlessReplaced) {
    addThreeRows();
    QTableView* view = window.tableView();
    select({"A001"});
    window.showContextMenu(
        view->visualRect(window.model()->index(rowOf("A001"), col("DEV_NAME"))).center());
    window.contextMenu()->hide();
    window.copyCellValue();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(delays[0], 3000);
    const QString first = window.messageLabel()->text();
    EXPECT_EQ(first, "\"alpha\" is copied");

    window.showContextMenu(
        view->visualRect(window.model()->index(rowOf("A001"), col("DEV_ID"))).center());
    window.contextMenu()->hide();
    window.copyCellValue();
    ASSERT_EQ(pending.size(), 2u);
    pending[0](); // the first message's time is up: the second one stays
    EXPECT_EQ(window.messageLabel()->text(), "\"A001\" is copied");
    pending[1]();
    EXPECT_TRUE(window.messageLabel()->text().isEmpty());
}

TEST_F(WindowTest, LanguageCyclesThroughEnglishAndKoreanBackToChinese) {
    QTranslator translator;
    tesmo::LanguageSwitcher switcher(&translator,
                                     QString::fromLocal8Bit(qgetenv("TESMO_BINARY_DIR")) + "/app");
    switcher.setRetranslate([this] { window.retranslate(); });
    QObject::connect(&window, &MainWindow::changeLanguage, &switcher,
                     &tesmo::LanguageSwitcher::changeLanguage);
    ASSERT_TRUE(switcher.load(tesmo::translationFile("zh")));
    window.retranslate();
    window.keywordColumnChooser()->setCurrentIndex(1);

    const struct {
        const char* code;
        const char* search;
        const char* firstTab;
        const char* ready;
    } steps[] = {
        {"en", "Search", "All terminals", "Ready"},
        {"kr", "검색", "모든 단말", "준비"},
        {"zh", "搜索", "所有终端", "就绪"},
    };
    for (const auto& s : steps) {
        window.action(MainWindow::LanguageAction)->trigger();
        EXPECT_EQ(window.languageCode(), s.code);
        EXPECT_EQ(window.action(MainWindow::SearchAction)->text(), QString::fromUtf8(s.search));
        EXPECT_EQ(window.typeTabBar()->tabText(0), QString::fromUtf8(s.firstTab));
        EXPECT_EQ(window.countLabel()->text(), QString::fromUtf8(s.ready));
        EXPECT_EQ(window.keywordColumnChooser()->currentIndex(), 1);
        EXPECT_EQ(window.keywordColumnChooser()->count(), 3);
        // Every text of the window is translated: no source text shows through.
        for (int i = 0; i < MainWindow::ActionCount; ++i)
            EXPECT_FALSE(window.action(MainWindow::ActionId(i))->text().isEmpty());
    }
    EXPECT_EQ(window.discovery()->searchColumn(), 1);
    EXPECT_TRUE(receivedPackets().isEmpty());
    QCoreApplication::removeTranslator(&translator);
}

TEST_F(WindowTest, DialogLaunchersNeedTheirSelection) {
    // With nothing selected they do nothing (and open nothing that would block).
    for (auto slot : {&MainWindow::appUpdate, &MainWindow::batchDeviceSet, &MainWindow::ttsPlay,
                      &MainWindow::ExportDeviceConfig, &MainWindow::ImportDeviceConfig,
                      &MainWindow::PlayLocalMusic})
        (window.*slot)();
    EXPECT_TRUE(currentUpdateDialog.isNull());
    addThreeRows();
    select({"C003", "A001"});
    const QVector<DeviceInfo> copies = window.selectedDevices();
    ASSERT_EQ(copies.size(), 2);
    EXPECT_EQ(copies[0].devId.reported, "C003"); // selection order
    EXPECT_EQ(copies[1].devId.reported, "A001");
}

TEST_F(WindowTest, PrinterFontSizesAreReadAsIntegersAndStored) {
    window.devNameFontSizeSet("20");
    window.codeFontSizeSet("big");
    EXPECT_EQ(window.devNameFontSize(), 20);
    EXPECT_EQ(window.codeFontSize(), 0);
    EXPECT_EQ(tesmo::settings::value(tesmo::settings::devNameFontSize), "20");
    MainWindow second;
    EXPECT_EQ(second.devNameFontSize(), 20);
}

TEST_F(WindowTest, Search2EmptiesTheTableAndOffersTheSegmentChooser) {
    addThreeRows();
    int shown = 0;
    window.probeLauncher()->setSegmentSource([] { return QVector<ProbeSegment>{}; });
    window.probeLauncher()->setDialogRunner([&](IFaceDlg&) { ++shown; });
    window.action(MainWindow::Search2Action)->trigger();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(window.model()->rowCount(), 0);
    EXPECT_TRUE(receivedPackets().isEmpty());
}

TEST_F(WindowTest, EditsAndApplyConfigReachTheSelectedTerminals) {
    addThreeRows();
    receivedPackets();
    DevicesModel* m = window.model();

    // A name is sent as soon as it is edited; an address waits for "Apply config".
    m->setData(m->index(rowOf("C003"), col("DEV_NAME")), "renamed");
    m->setData(m->index(rowOf("B002"), col("ADDRESS")), "10.9.0.99");
    QList<DevicePacket> sent = receivedPackets();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].code, DeviceCode::DevNameConfig);
    EXPECT_STREQ(sent[0].targetDevId, "C003");

    select({"B002"});
    window.action(MainWindow::ApplyConfigAction)->trigger();
    sent = receivedPackets();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].code, DeviceCode::NetworkConfig);
    EXPECT_STREQ(sent[0].targetDevId, "B002");
    EXPECT_EQ(sent[0].value("ADDRESS"), "10.9.0.99");

    // "Play sound" asks the first selected terminal only.
    select({"C003", "A001"});
    window.action(MainWindow::PlaySoundAction)->trigger();
    sent = receivedPackets();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].code, DeviceCode::PlaySound);
    EXPECT_STREQ(sent[0].targetDevId, "C003");
}
