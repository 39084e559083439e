// Runs the built program as a second instance against this test, which holds the
// "tesmo-man" local socket as the first instance. The private TMPDIR keeps that
// socket apart from any real session; the program never reaches its window here.
#include "netns.h"
#include "shell/single_application.h"
#include "test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

using tesmo::test::waitFor;

tesmo::SingleApplication* g_app = nullptr;
// A first instance serves HTTP on 0.0.0.0:18835, so it only runs inside a
// private network namespace.
bool g_privateNetwork = false;

struct RunResult {
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QString out;
};

// A copy of the executable in a fresh directory, so "logs" beside it starts absent.
class ProgramCopy : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        exe = dir.path() + "/tesmo-man";
        ASSERT_TRUE(QFile::copy(QStringLiteral(TESMO_MAN_EXE), exe));
    }

    // Runs the copy while this process keeps serving its event loop, so the
    // first-instance side of the hand-over runs as it would in the program.
    RunResult run(const QStringList& args) {
        QProcess p;
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.start(exe, args);
        EXPECT_TRUE(p.waitForStarted(10000));
        QElapsedTimer guard;
        guard.start();
        while (p.state() != QProcess::NotRunning && guard.elapsed() < 60000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            p.waitForFinished(20);
        }
        RunResult r;
        r.exitCode = p.exitCode();
        r.status = p.exitStatus();
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        return r;
    }

    bool logsExist() const { return QFileInfo::exists(dir.path() + "/logs"); }

    QTemporaryDir dir;
    QString exe;
};

} // namespace

TEST(SingleInstance, ThisTestIsTheFirstInstance) {
    EXPECT_FALSE(g_app->isRunning());
    EXPECT_EQ(g_app->serverName(), "tesmo-man");
}

TEST_F(ProgramCopy, VersionOptionPrintsVersionAndCreatesNoLogs) {
    const RunResult r = run({"-v"});
    EXPECT_EQ(r.status, QProcess::NormalExit);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "2.4.0607\n");
    EXPECT_FALSE(logsExist());
}

TEST_F(ProgramCopy, SecondInstanceWithConsoleLogExitsAndRaisesTheFirstWindow) {
    QWidget window;
    window.show();
    window.showMinimized();
    ASSERT_TRUE(window.isMinimized());
    g_app->setWindow(&window);

    const RunResult r = run({"-c", "/some/bundle.kub"});
    EXPECT_EQ(r.status, QProcess::NormalExit);
    EXPECT_EQ(r.exitCode, 0);
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    const QRegularExpression stamped(
        QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] \\[[a-z_]+\\.cpp:\\d+\\] (.*)$"));
    QStringList messages;
    for (const QString& line : lines) {
        const QRegularExpressionMatch m = stamped.match(line);
        EXPECT_TRUE(m.hasMatch()) << line.toStdString();
        messages << m.captured(1);
    }
    EXPECT_EQ(messages,
              QStringList({QString::fromUtf8("连接到了"), QString::fromUtf8("正在运行")}));
    EXPECT_FALSE(logsExist());

    EXPECT_TRUE(waitFor([&] { return !window.isMinimized(); }));
    EXPECT_TRUE(window.isVisible());
    g_app->setWindow(nullptr);
}

TEST_F(ProgramCopy, SecondInstanceLogsIntoTheDailyFileBesideTheExecutable) {
    const RunResult r = run({});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.startsWith("filename: " + dir.path() + "/logs/tesmo-man-"))
        << r.out.toStdString();
    const QStringList files =
        QDir(dir.path() + "/logs").entryList({"tesmo-man-*.log"}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(QRegularExpression("^tesmo-man-20\\d{6}\\.log$").match(files[0]).hasMatch());
    QFile f(dir.path() + "/logs/" + files[0]);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(text.startsWith("cleanOldFiles()\n")) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromUtf8("] 正在运行\n"))) << text.toStdString();
}

// Two processes of the program itself, in a socket directory of their own that holds
// the name a crashed instance left behind. The window of the first opens offscreen
// and sends nothing: scans start only from the tab bar and the toolbar.
TEST_F(ProgramCopy, FirstInstanceTakesOverAStaleNameAndAnswersTheSecond) {
    if (!g_privateNetwork)
        GTEST_SKIP() << "a first instance listens on port 18835: needs root and a private "
                        "network namespace";
    const QString sockets = dir.path() + "/sockets";
    ASSERT_TRUE(QDir().mkpath(sockets));
    {
        // What a crashed instance leaves: the name exists, nobody answers on it.
        QFile stale(sockets + "/tesmo-man");
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", sockets);
    env.insert("QT_QPA_PLATFORM", "offscreen");

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(exe, {"-c"});
    ASSERT_TRUE(first.waitForStarted(10000));
    QString firstOut;
    EXPECT_TRUE(waitFor([&] {
        first.waitForReadyRead(20);
        firstOut += QString::fromUtf8(first.readAllStandardOutput());
        // The translation line comes after the listening socket is up.
        return firstOut.contains(QString::fromUtf8("] 没有在运行")) &&
               firstOut.contains("tesmo-man-zh_CN.qm");
    })) << firstOut.toStdString();

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(exe, {"-c"});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(second.readAllStandardOutput())
                    .contains(QString::fromUtf8("] 正在运行")));
    EXPECT_EQ(first.state(), QProcess::Running);

    first.kill();
    first.waitForFinished(10000);
    EXPECT_FALSE(logsExist());
}

int main(int argc, char** argv) {
    tesmo::test::isolateEnvironment();
    ::testing::InitGoogleTest(&argc, argv);
    g_privateNetwork = netns::enterLoopbackOnly();
    tesmo::SingleApplication app(argc, argv);
    g_app = &app;
    return RUN_ALL_TESTS();
}
