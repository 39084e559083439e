// What scripts/run.sh shows a new user: inside a private network namespace built by
// scripts/demo-network.sh, the simulated fleet of scripts/demo-fleet.args answers the
// window's own "Search", sent to its default broadcast targets, and hears "Play local
// music" and "tts play" on the terminals found. Skips where no namespace can be made;
// nothing here can reach a real network.
#include "audio_fixtures.h"
#include "devicelink/devicediscovery.h"
#include "devicetable/devicesmodel.h"
#include "devicetable/selectionmodel.h"
#include "netns.h"
#include "services/devicettsplaydlg.h"
#include "services/playlocalmusicdlg.h"
#include "shell/mainwindow.h"
#include "test_support.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTabBar>
#include <QTableView>

#include <set>

#include <gtest/gtest.h>

#include <sched.h>

namespace {

using tesmo::test::waitFor;

std::string g_skip;

QString sourceDir() {
    return QString::fromLocal8Bit(qgetenv("TESMO_SOURCE_DIR"));
}

} // namespace

TEST(DemoFleet, SearchFindsTheSimulatedTerminals) {
    if (!g_skip.empty())
        GTEST_SKIP() << g_skip;
    QFile argsFile(sourceDir() + "/scripts/demo-fleet.args");
    ASSERT_TRUE(argsFile.open(QIODevice::ReadOnly));
    std::vector<std::string> argv = {TERMINAL_SIM_PATH};
    for (const QString& a : QString::fromUtf8(argsFile.readAll()).simplified().split(' '))
        argv.push_back(a.toStdString());
    netns::Child sim;
    std::string why;
    ASSERT_TRUE(sim.start(argv, &why)) << why;
    std::string ready;
    ASSERT_TRUE(sim.waitForLine("terminal-sim ready", 10000, &ready));

    MainWindow window;
    window.discovery()->setCoalesceInterval(0);
    window.action(MainWindow::SearchAction)->trigger();
    EXPECT_TRUE(waitFor([&] { return window.model()->rowCount() == 24; }))
        << window.model()->rowCount() << " rows; " << ready;
    EXPECT_TRUE(waitFor([&] { return window.countLabel()->text() == "24 devices"; }));

    // Every terminal found hears a local file: the simulator logs each stream.
    audio_fixtures::TempDir dir;
    const std::string tone = dir.file("tone.wav");
    ASSERT_TRUE(audio_fixtures::ffmpeg("-f lavfi -i sine=frequency=440:duration=1 " + tone));
    window.tableView()->selectAll();
    std::set<std::string> hearing;
    window.setDialogRunner([&](QDialog& dialog) {
        auto* playback = qobject_cast<PlayLocalMusicDlg*>(&dialog);
        ASSERT_NE(playback, nullptr);
        playback->setFileChooser([&](QWidget*, const QString&, const QString&, const QString&) {
            return QString::fromStdString(tone);
        });
        playback->openJsonFile();
        playback->startPlay();
        std::string line;
        while (hearing.size() < 24 && sim.waitForLine("pelzo ", 10000, &line))
            if (line.find(" hearing audio from ") != std::string::npos)
                hearing.insert(line.substr(6, line.find(' ', 6) - 6));
        playback->stopPlay();
        playback->closeWindow();
    });
    window.action(MainWindow::PlayLocalMusicAction)->trigger();
    EXPECT_EQ(hearing.size(), 24u);

    // "tts play": every other terminal has the speech feature and reads the text.
    std::set<std::string> heard;
    window.setDialogRunner([&](QDialog& dialog) {
        auto* tts = qobject_cast<DeviceTtsPlayDlg*>(&dialog);
        ASSERT_NE(tts, nullptr);
        tts->startPlay();
        int refused = 0;
        for (int r = 0; r < tts->selectionModel()->rowCount(); ++r)
            refused += tts->selectionModel()->deviceAt(r)->notice.reported == "no permission";
        EXPECT_EQ(refused, 12);
    });
    window.action(MainWindow::TtsPlayAction)->trigger();
    std::string line;
    while (heard.size() < 12 && sim.waitForLine("speech ", 10000, &line))
        if (line.find(" heard text=\"请输入需要播报的内容\"") != std::string::npos)
            heard.insert(line.substr(7, line.find(' ', 7) - 7));
    EXPECT_EQ(heard.size(), 12u);

    // Another tab scans again, for its own type only.
    window.typeTabBar()->setCurrentIndex(12);
    EXPECT_TRUE(waitFor([&] { return window.model()->rowCount() == 0; }));
}

int main(int argc, char** argv) {
    tesmo::test::isolateEnvironment();
    ::testing::InitGoogleTest(&argc, argv);
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNET) != 0) {
        g_skip = "needs root and a private network namespace";
    } else {
        const QByteArray script = qgetenv("TESMO_SOURCE_DIR") + "/scripts/demo-network.sh";
        if (std::system(("bash " + script + " >&2").constData()) != 0)
            g_skip = "scripts/demo-network.sh failed";
    }
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
