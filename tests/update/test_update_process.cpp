// The program itself in a private network namespace: it serves the bundle saved under
// "bundle/path" on port 9208 to the simulated terminal's client (tools/terminal-sim
// murlo-client). Skips where no namespace can be made; nothing leaves the namespace.
#include "bundle_fixture.h"
#include "netns.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using fixture::BundleDir;
using fixture::md5;
using fixture::StandardBundle;

namespace {

std::string g_skip;

// A copy of the program with settings, temporary and data folders of its own.
class Program {
public:
    explicit Program(const QString& bundlePath) {
        exe_ = dir_.path() + "/tesmo-man";
        QFile::copy(QStringLiteral(TESMO_MAN_EXE), exe_);
        for (const char* sub : {"config/Vostrel", "data", "tmp", "runtime"})
            QDir().mkpath(dir_.path() + "/" + sub);
        BundleDir::write(dir_.path() + "/config/Vostrel/tesmo-man.conf",
                         "[bundle]\npath=" + bundlePath.toUtf8() + "\n");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir_.path() + "/config");
        env.insert("XDG_DATA_HOME", dir_.path() + "/data");
        env.insert("TMPDIR", dir_.path() + "/tmp");
        env.insert("XDG_RUNTIME_DIR", dir_.path() + "/runtime");
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(exe_, {"-c"});
    }
    ~Program() {
        process_.terminate();
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished(10000);
        }
    }

    // Reads the program's console log until a line contains text.
    bool waitForLog(const QString& text, int boundMs = 30000) {
        QElapsedTimer guard;
        guard.start();
        while (!log_.contains(text) && guard.elapsed() < boundMs &&
               process_.state() != QProcess::NotRunning) {
            process_.waitForReadyRead(100);
            log_ += QString::fromUtf8(process_.readAll());
        }
        return log_.contains(text);
    }
    const QString& log() const { return log_; }

private:
    QTemporaryDir dir_;
    QString exe_;
    QProcess process_;
    QString log_;
};

struct ClientRun {
    int exitCode = -1;
    QStringList lines;
};

ClientRun murloClient(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(MURLO_CLIENT_PATH),
            QStringList{"--server", netns::managerAddress} + args);
    p.waitForFinished(120000);
    return ClientRun{p.exitCode(),
                     QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)};
}

class UpdateProcess : public ::testing::Test {
protected:
    void SetUp() override {
        if (!g_skip.empty())
            GTEST_SKIP() << g_skip;
    }
};

} // namespace

TEST_F(UpdateProcess, ServesTheSavedBundleOnPort9208) {
    BundleDir dir;
    StandardBundle s;
    Program program(s.build(dir));
    ASSERT_TRUE(program.waitForLog("Server started on tcp port 9208"))
        << program.log().toStdString();

    const ClientRun r =
        murloClient({"--did", "T-9", "--arch", "armv7", "--type", "speaker", "update"});
    EXPECT_EQ(r.exitCode, 0) << r.lines.join('\n').toStdString();
    EXPECT_EQ(r.lines.value(0), "key encrypted");
    EXPECT_EQ(r.lines.value(1), "login ok");
    EXPECT_EQ(r.lines.value(2), "list code 200 count 3");
    const QString main = QStringLiteral("download 1 code 200 size 200000 chunks 4 md5 %1 ok")
                             .arg(QString(md5(s.main)));
    const QString web = QStringLiteral("download 2 code 200 size 150000 chunks 3 md5 %1 ok")
                            .arg(QString(md5(s.web)));
    EXPECT_TRUE(r.lines.contains(main)) << r.lines.join('\n').toStdString();
    EXPECT_TRUE(r.lines.contains(web)) << r.lines.join('\n').toStdString();
    // The container's runner is the one made for the address the terminal reached.
    EXPECT_TRUE(program.waitForLog("add /kub-container-firmware-runner-10.77.0.1"));
    bool runnerOk = false;
    for (const QString& line : r.lines)
        runnerOk =
            runnerOk || (line.startsWith("download 3 code 200 size ") && line.endsWith(" ok"));
    EXPECT_TRUE(runnerOk) << r.lines.join('\n').toStdString();
    EXPECT_TRUE(program.waitForLog("login from 10.77.0.1:")) << program.log().toStdString();
}

TEST_F(UpdateProcess, ContainerRunnerPointsAtItsPayloadOnTheFileServer) {
    BundleDir dir;
    StandardBundle s;
    Program program(s.build(dir));
    ASSERT_TRUE(program.waitForLog("Server started on tcp port 9208"))
        << program.log().toStdString();
    QTemporaryDir saved;
    const ClientRun r = murloClient(
        {"--arch", "armv7", "--type", "speaker", "--save", saved.path(), "list", "download:3"});
    ASSERT_EQ(r.exitCode, 0) << r.lines.join('\n').toStdString();

    // The runner as served: the container's runner, the payload's URL, a trailer whose
    // length field is the URL's length.
    const QByteArray runner = BundleDir::read(saved.path() + "/3");
    ASSERT_GT(runner.size(), s.runner.size() + 16);
    EXPECT_EQ(runner.left(s.runner.size()), s.runner);
    const QByteArray trailer = runner.right(16);
    const int urlLength = quint8(trailer[8]) | quint8(trailer[9]) << 8;
    const QByteArray url = runner.mid(s.runner.size(), urlLength);
    EXPECT_EQ(url,
              QByteArray("http://") + netns::managerAddress + ":18835/kub-container-firmware-data");

    // Fetched with curl from the file server, the URL gives the payload.
    QProcess curl;
    curl.start("curl", {"-sS", "--fail", "--max-time", "30", "--retry", "5", "--retry-connrefused",
                        QString::fromUtf8(url)});
    ASSERT_TRUE(curl.waitForFinished(60000));
    EXPECT_EQ(curl.exitCode(), 0) << curl.readAllStandardError().toStdString();
    const QByteArray payload = curl.readAllStandardOutput();
    EXPECT_EQ(payload.size(), s.payload.size());
    EXPECT_TRUE(payload == s.payload);
}

TEST_F(UpdateProcess, BrokenSavedBundleIsLoggedAndTheServerStillStarts) {
    Program program("/nonexistent/bundle.tar");
    EXPECT_TRUE(program.waitForLog(QString::fromUtf8("/nonexistent/bundle.tar : 文件不存在或损坏")))
        << program.log().toStdString();
    EXPECT_TRUE(program.waitForLog("Server started on tcp port 9208"));
    const ClientRun r = murloClient({"list"});
    EXPECT_EQ(r.lines.value(2), "list code 200 count 0") << r.lines.join('\n').toStdString();
}

TEST_F(UpdateProcess, TakenPortIsReported) {
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::Any, 9208));
    Program program("");
    EXPECT_TRUE(program.waitForLog("Failed to bind tcp port 9208")) << program.log().toStdString();
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string why;
    if (!netns::enter(&why))
        g_skip = why;
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
