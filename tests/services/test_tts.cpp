// The text-to-speech dialog under the offscreen platform against simulated speech
// terminals (terminal-sim on port 80) and a hand-made HTTP peer, inside a private network
// namespace: who is contacted, with which body, and what NOTICE then says.
#include "../shell/test_support.h"
#include "netns.h"

#include "devicetable/selectionmodel.h"
#include "rest/rest.h"
#include "services/devicettsplaydlg.h"

#include <QApplication>
#include <QComboBox>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

using tesmo::test::waitFor;

namespace {

std::string gSkip;
netns::Child* gSim = nullptr;

// Terminals of the simulated fleet.
const int kSpeaker = 0; // "aoip.s,aoip.x": speaks
const int kLonger = 1;  // "aoip.xy": a longer word only
const int kNone = 2;    // no feature list
const int kSentinel = 3;
// The hand-made peer.
const int kPeer = 10;

QString addressOf(int n) {
    return QString::fromStdString(netns::terminalAddress(n));
}

DeviceInfo terminal(int n, const QString& features) {
    DeviceInfo d;
    d.devId.setBoth(QStringLiteral("S%1").arg(n));
    d.address.setBoth(addressOf(n));
    d.f.setBoth(features);
    return d;
}

const QVector<DeviceInfo>& fleet() {
    static const QVector<DeviceInfo> rows = {terminal(kSpeaker, "aoip.s,aoip.x"),
                                             terminal(kLonger, "aoip.xy"), terminal(kNone, "")};
    return rows;
}

QString notice(const DeviceTtsPlayDlg& dialog, int row) {
    return dialog.selectionModel()->deviceAt(row)->notice.reported;
}

// Sends one speech request to the sentinel terminal and returns every line the
// simulator printed before its line: what the terminals heard since the last call.
std::vector<std::string> heardSinceLastCall() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(80);
    inet_pton(AF_INET, netns::terminalAddress(kSentinel).c_str(), &a.sin_addr);
    const std::string body = R"({"text":"sentinel","vcn":"x","speed":1,"volume":1})";
    const std::string req = "POST /v1/speech HTTP/1.1\r\nConnection: close\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n" + body;
    std::vector<std::string> lines;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
        send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    const std::string mark = "speech " + netns::terminalAddress(kSentinel) + " heard";
    std::string line;
    while (gSim->waitForLine("", 10000, &line) && line.compare(0, mark.size(), mark) != 0)
        lines.push_back(line);
    close(fd);
    return lines;
}

std::string heardLine(int n, const std::string& fields, const std::string& body) {
    return "speech " + netns::terminalAddress(n) + " heard " + fields + " body=" + body;
}

// A terminal's HTTP side made by hand: answers every request with `reply` (a full
// HTTP response), or never when it is empty.
class Peer {
public:
    QByteArray reply;
    int requests = 0;

    bool listen() {
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    buffer_ += s->readAll();
                    const int head = buffer_.indexOf("\r\n\r\n");
                    if (head < 0)
                        return;
                    buffer_.clear();
                    ++requests;
                    if (!reply.isEmpty()) {
                        s->write(reply);
                        s->disconnectFromHost();
                    }
                });
                QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
        return server_.listen(QHostAddress(addressOf(kPeer)), 80);
    }

    static QByteArray response(int status, const QByteArray& reason, const QByteArray& body) {
        return "HTTP/1.1 " + QByteArray::number(status) + " " + reason +
               "\r\nContent-Type: application/json\r\nContent-Length: " +
               QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }

private:
    QTcpServer server_;
    QByteArray buffer_;
};

class TtsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!gSkip.empty())
            GTEST_SKIP() << gSkip;
        setRequestTimeoutMsForTesting(5000);
        heardSinceLastCall(); // start clean
    }
    void TearDown() override { setRequestTimeoutMsForTesting(5000); }
};

} // namespace

TEST_F(TtsTest, TheDefaultBodyReachesOnlyTheTerminalWithTheFeature) {
    DeviceTtsPlayDlg dialog(fleet());
    dialog.startButton()->click();
    EXPECT_EQ(notice(dialog, 0), "已播报");
    EXPECT_EQ(notice(dialog, 1), "no permission");
    EXPECT_EQ(notice(dialog, 2), "no permission");
    for (int row = 0; row < 3; ++row)
        EXPECT_FALSE(dialog.selectionModel()->deviceAt(row)->time.reported.isEmpty()) << row;
    const std::string body =
        R"({"text":"请输入需要播报的内容","vcn":"xiaoyan","speed":50,"volume":70})";
    EXPECT_EQ(
        heardSinceLastCall(),
        (std::vector<std::string>{heardLine(
            kSpeaker, R"(text="请输入需要播报的内容" vcn="xiaoyan" speed=50 volume=70)", body)}));
    EXPECT_TRUE(dialog.startButton()->isEnabled());
}

TEST_F(TtsTest, FieldsAreSentAsTyped) {
    const struct {
        const char* text;
        const char* volume;
        const char* speed;
        int voice;
        const char* heard;
    } cases[] = {
        {"你好", "abc", "12", 1, R"(text="你好" vcn="xiaofeng" speed=12 volume=0)"},
        {"a\"b", "150", "-5", 0, R"(text="a\"b" vcn="xiaoyan" speed=-5 volume=150)"},
        {"x", "", "7z", -1, R"(text="x" vcn="xiaoyan" speed=0 volume=0)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        DeviceTtsPlayDlg dialog({fleet()[0]});
        dialog.textField()->setText(QString::fromUtf8(c.text));
        dialog.volumeField()->setText(c.volume);
        dialog.speedField()->setText(c.speed);
        dialog.voiceChooser()->setCurrentIndex(c.voice);
        dialog.startPlay();
        const std::vector<std::string> heard = heardSinceLastCall();
        ASSERT_EQ(heard.size(), 1u);
        EXPECT_EQ(heard[0].substr(0, heard[0].find(" body=")),
                  "speech " + netns::terminalAddress(kSpeaker) + " heard " + c.heard);
        EXPECT_EQ(notice(dialog, 0), "已播报");
    }
}

TEST_F(TtsTest, WindowAndStartButtonFollowTheText) {
    DeviceTtsPlayDlg dialog(fleet());
    EXPECT_EQ(dialog.windowTitle(), "Devices Setting");
    EXPECT_EQ(dialog.minimumSize(), QSize(1000, 400));
    EXPECT_EQ(dialog.textField()->text(), "请输入需要播报的内容");
    EXPECT_EQ(dialog.volumeField()->text(), "70");
    EXPECT_EQ(dialog.speedField()->text(), "50");
    ASSERT_EQ(dialog.voiceChooser()->count(), 2);
    EXPECT_EQ(dialog.voiceChooser()->itemText(0), "xiaoyan");
    EXPECT_EQ(dialog.voiceChooser()->itemText(1), "xiaofeng");
    EXPECT_EQ(dialog.selectionModel()->rowCount(), 3);
    bool prompt = false;
    for (QLabel* l : dialog.findChildren<QLabel*>())
        prompt = prompt || l->text() == "tts播报: 请输入要播放的文字";
    EXPECT_TRUE(prompt);

    EXPECT_TRUE(dialog.startButton()->isEnabled());
    dialog.textField()->clear();
    EXPECT_FALSE(dialog.startButton()->isEnabled());
    dialog.textField()->setText("a");
    EXPECT_TRUE(dialog.startButton()->isEnabled());
}

// Whatever comes back, NOTICE says it: the reply's message (empty included), the
// decoding error, or the network layer's error text.
TEST_F(TtsTest, NoticeShowsWhatTheTerminalAnswered) {
    Peer peer;
    ASSERT_TRUE(peer.listen());
    const std::string url = "http://" + netns::terminalAddress(kPeer) + "/v1/speech";
    const struct {
        QByteArray reply;
        QString notice;
    } cases[] = {
        {Peer::response(200, "OK", R"({"code":500,"message":"busy"})"), "busy"},
        {Peer::response(200, "OK", R"({"code":200,"message":""})"), ""},
        {Peer::response(200, "OK", "{}"), ""},
        {Peer::response(200, "OK", "not json"), "json obj has parse error"},
        {Peer::response(404, "Not Found", "{}"),
         QString::fromStdString("Error transferring " + url + " - server replied: Not Found")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.toStdString());
        peer.reply = c.reply;
        DeviceTtsPlayDlg dialog({terminal(kPeer, "aoip.x")});
        dialog.startPlay();
        EXPECT_EQ(notice(dialog, 0), c.notice);
    }
    // A member of the wrong kind gives the conversion message of the JSON mapping.
    peer.reply = Peer::response(200, "OK", R"({"message":5})");
    DeviceTtsPlayDlg dialog({terminal(kPeer, "aoip.x")});
    dialog.startPlay();
    TextToSpeechRes res;
    std::string expected;
    ASSERT_FALSE(vo::fromJson(expected, res, R"({"message":5})"));
    EXPECT_EQ(notice(dialog, 0).toStdString(), expected);
    EXPECT_EQ(peer.requests, int(std::size(cases)) + 1);
}

// A terminal that takes the request and never answers: the window goes on working while
// the dialog waits, a second press starts nothing, and after the REST client's time-out
// the next terminal is contacted.
TEST_F(TtsTest, ASilentTerminalDoesNotFreezeTheWindow) {
    setRequestTimeoutMsForTesting(300);
    Peer silent;
    ASSERT_TRUE(silent.listen());
    DeviceTtsPlayDlg dialog({terminal(kPeer, "aoip.x"), fleet()[0]});
    dialog.show();
    int ticks = 0;
    bool sawWait = false;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++ticks;
        if (silent.requests == 1 && !sawWait) {
            sawWait = true;
            EXPECT_TRUE(dialog.isSending());
            EXPECT_FALSE(dialog.startButton()->isEnabled());
            dialog.startButton()->click(); // disabled: nothing happens
            dialog.startPlay();            // and a direct call is refused too
        }
    });
    ticker.start(10);
    dialog.startPlay();
    EXPECT_TRUE(sawWait);
    EXPECT_GT(ticks, 1);
    EXPECT_EQ(silent.requests, 1);
    EXPECT_EQ(notice(dialog, 0), "Operation canceled");
    EXPECT_EQ(notice(dialog, 1), "已播报");
    EXPECT_EQ(heardSinceLastCall().size(), 1u);
    EXPECT_FALSE(dialog.isSending());
    EXPECT_TRUE(dialog.startButton()->isEnabled());
}

TEST_F(TtsTest, ClosingDuringARunContactsNoFurtherTerminal) {
    setRequestTimeoutMsForTesting(300);
    Peer silent;
    ASSERT_TRUE(silent.listen());
    DeviceTtsPlayDlg dialog({terminal(kPeer, "aoip.x"), fleet()[0]});
    dialog.show();
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (silent.requests == 1 && dialog.isVisible())
            dialog.closeButton()->click();
    });
    closer.start(10);
    dialog.startPlay();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(notice(dialog, 0), "Operation canceled");
    EXPECT_EQ(notice(dialog, 1), "");
    EXPECT_TRUE(heardSinceLastCall().empty());
}

TEST_F(TtsTest, RepliesForwardedByTheMainWindowReachTheTable) {
    DeviceTtsPlayDlg dialog(fleet());
    emit dialog.updateDeviceColumnValue("S1", "AO_VOLUME", "33");
    EXPECT_EQ(dialog.selectionModel()->deviceAt(1)->aoVolume.reported, "33");
    EXPECT_EQ(dialog.selectionModel()->deviceAt(0)->aoVolume.reported, "");
}

int main(int argc, char** argv) {
    tesmo::test::isolateEnvironment();
    ::testing::InitGoogleTest(&argc, argv);
    if (::geteuid() != 0 || !netns::enter(&gSkip)) {
        if (gSkip.empty())
            gSkip = "needs root and a private network namespace (speech terminals use port 80)";
    } else {
        std::string text;
        for (auto [n, features] : {std::pair<int, const char*>{kSpeaker, "aoip.s,aoip.x"},
                                   {kLonger, "aoip.xy"},
                                   {kNone, nullptr},
                                   {kSentinel, "aoip.x"}}) {
            text += "[terminal]\n@bind = " + netns::terminalAddress(n) + "\nDEV_ID = S" +
                    std::to_string(n) + "\n";
            if (features)
                text += std::string("F = ") + features + "\n";
        }
        gSim = new netns::Child;
        if (!netns::startSimulator(*gSim, TERMINAL_SIM_PATH, text,
                                   {"--rest-port", "0", "--speech", "--speech-message", "已播报"},
                                   &gSkip) &&
            gSkip.empty())
            gSkip = "terminal-sim did not start";
    }
    int rc;
    {
        QApplication app(argc, argv);
        rc = RUN_ALL_TESTS();
    }
    delete gSim;
    return rc;
}
