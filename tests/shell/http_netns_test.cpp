// The program itself, started with "-c" inside a private network namespace
// (it binds 0.0.0.0:18835, so it must not run on the machine's own network):
// its log names the port and curl fetches "/hello" from it.
#include "netclient.h"
#include "netns.h"
#include "test_support.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

using tesmo::test::waitFor;

bool g_private = false;

TEST(HttpAtStartup, ServesHelloOnPort18835) {
    if (!g_private)
        GTEST_SKIP() << "needs root and a private network namespace";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(TESMO_MAN_EXE), {"-c"});
    ASSERT_TRUE(program.waitForStarted(10000));
    QString out;
    const auto pump = [&] {
        program.waitForReadyRead(10);
        out += QString::fromUtf8(program.readAllStandardOutput());
    };
    const QRegularExpression bound(
        QStringLiteral("\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] \\[http_server\\.cpp:\\d+\\] "
                       "http server bound to tcp port 18835\n"));
    EXPECT_TRUE(waitFor([&] {
        pump();
        return bound.match(out).hasMatch();
    })) << out.toStdString();

    const std::string hello = netclient::runCommand(
        "curl -s -i --max-time 20 http://127.0.0.1:18835/hello", [&] { pump(); });
    EXPECT_EQ(hello, "HTTP/1.1 200 OK\r\ncontent-type: text/plain\r\nContent-Length: 14\r\n\r\n"
                     "Hello, world!\n");
    // Every GET path goes to the file server, which answers what it lacks.
    EXPECT_EQ(
        netclient::runCommand("curl -s --max-time 20 http://127.0.0.1:18835/x/y", [&] { pump(); }),
        "Not found");
    EXPECT_EQ(program.state(), QProcess::Running);
    program.kill();
    program.waitForFinished(10000);
}

} // namespace

int main(int argc, char** argv) {
    tesmo::test::isolateEnvironment();
    ::testing::InitGoogleTest(&argc, argv);
    g_private = netns::enterLoopbackOnly();
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
