// The main window's "Play local music" and "tts play": what they open, on which rows,
// and that a dialog's table is its own. The playback dialog talks to the real library,
// so the program runs in a private network namespace where nothing answers.
#include "../shell/test_support.h"
#include "netns.h"

#include "devicetable/devicesmodel.h"
#include "devicetable/selectionmodel.h"
#include "services/devicettsplaydlg.h"
#include "services/playlocalmusicdlg.h"
#include "shell/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QTableView>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

bool gPrivateNetwork = false;

DeviceInfo row(int n) {
    DeviceInfo d;
    d.devId.setBoth(QStringLiteral("W%1").arg(n));
    d.address.setBoth(QString::fromStdString(netns::loopbackAddress(n, true, 2)));
    d.proto.setBoth(QStringLiteral("dhcp"));
    d.f.setBoth(QStringLiteral("aoip.x"));
    d.notice.setBoth(QStringLiteral("main"));
    return d;
}

QStringList ids(const DeviceSelectionModel& model) {
    QStringList out;
    for (int r = 0; r < model.rowCount(); ++r)
        out << model.deviceAt(r)->devId.reported;
    return out;
}

class WindowDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        if (!gPrivateNetwork)
            GTEST_SKIP() << "needs root and a private network namespace";
        window = std::make_unique<MainWindow>();
        for (int n = 0; n < 3; ++n)
            window->model()->addOrUpdate(row(n));
        window->setDialogRunner([this](QDialog& dialog) {
            ++opened;
            if (onOpen)
                onOpen(dialog);
        });
    }
    // Selects model rows, in this order.
    void select(std::initializer_list<int> rows) {
        QItemSelectionModel* s = window->tableView()->selectionModel();
        s->clearSelection();
        for (int r : rows)
            s->select(window->model()->index(r, 0),
                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    std::unique_ptr<MainWindow> window;
    int opened = 0;
    std::function<void(QDialog&)> onOpen;
};

} // namespace

TEST_F(WindowDialogs, NothingSelectedOpensNothing) {
    EXPECT_FALSE(window->action(MainWindow::PlayLocalMusicAction)->isEnabled());
    EXPECT_FALSE(window->action(MainWindow::TtsPlayAction)->isEnabled());
    window->PlayLocalMusic();
    window->ttsPlay();
    EXPECT_EQ(opened, 0);
}

TEST_F(WindowDialogs, PlayLocalMusicOpensThePlaybackDialogOnTheSelectedRows) {
    select({2, 0});
    QStringList shown;
    onOpen = [&](QDialog& dialog) {
        auto* playback = qobject_cast<PlayLocalMusicDlg*>(&dialog);
        ASSERT_NE(playback, nullptr);
        EXPECT_EQ(dialog.parent(), window.get());
        shown = ids(*playback->selectionModel());
        EXPECT_NE(playback->playback().context(), nullptr);
    };
    ASSERT_TRUE(window->action(MainWindow::PlayLocalMusicAction)->isEnabled());
    window->action(MainWindow::PlayLocalMusicAction)->trigger();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(shown, (QStringList{"W2", "W0"}));
}

TEST_F(WindowDialogs, TtsDialogWorksOnCopiesAndHearsForwardedReplies) {
    select({1});
    onOpen = [&](QDialog& dialog) {
        auto* tts = qobject_cast<DeviceTtsPlayDlg*>(&dialog);
        ASSERT_NE(tts, nullptr);
        DeviceSelectionModel* table = tts->selectionModel();
        EXPECT_EQ(ids(*table), QStringList{"W1"});
        // The dialog writes its NOTICE; the main table keeps its own.
        table->updateDeviceColumnValue("W1", "NOTICE", "written in the dialog");
        EXPECT_EQ(table->deviceAt(0)->notice.reported, "written in the dialog");
        // A terminal reply the window reports reaches the open dialog.
        emit window->updateDeviceColumnValue("W1", "AO_VOLUME", "44");
        EXPECT_EQ(table->deviceAt(0)->aoVolume.reported, "44");
    };
    window->action(MainWindow::TtsPlayAction)->trigger();
    EXPECT_EQ(opened, 1);
    const DeviceInfo* mainRow = window->model()->find("W1");
    ASSERT_NE(mainRow, nullptr);
    EXPECT_EQ(mainRow->notice.reported, "main");
    EXPECT_EQ(mainRow->notice.current, "main");
    EXPECT_EQ(mainRow->aoVolume.reported, "");
    // Once the dialog is gone the window's replies go nowhere.
    emit window->updateDeviceColumnValue("W1", "AO_VOLUME", "45");
}

int main(int argc, char** argv) {
    tesmo::test::isolateEnvironment();
    ::testing::InitGoogleTest(&argc, argv);
    gPrivateNetwork = ::geteuid() == 0 && netns::enterLoopbackOnly();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
