// What scripts/run.sh shows a new user: inside a private network namespace built by
// scripts/demo-network.sh, the simulated fleet of scripts/demo-fleet.args answers the
// window's own "Search", sent to its default broadcast targets. Skips where no
// namespace can be made; nothing here can reach a real network.
#include "devicelink/devicediscovery.h"
#include "devicetable/devicesmodel.h"
#include "netns.h"
#include "shell/mainwindow.h"
#include "test_support.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTabBar>

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
