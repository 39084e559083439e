// The local playback dialog under the offscreen platform, driving the real voPelzoSdk
// (through recording wrappers) to simulated Pelzo terminals on loopback addresses of a
// private network namespace: what the library is asked, what the terminals hear, and
// what stays behind when the dialog closes.
#include "recording_api.h"

#include "../audio/audio_fixtures.h"
#include "../shell/test_support.h"
#include "boxanswerer.h"
#include "netns.h"
#include "pelzo_terminal.h"
#include "proc_self.h"

#include "devicetable/selectionmodel.h"
#include "services/playlocalmusicdlg.h"
#include "shell/app_settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>
#include <opus/opus.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace settings = tesmo::settings;
using tesmo::test::waitFor;

namespace {

bool gPrivateNetwork = false;
constexpr double kTone = 1010; // 20.2 periods a frame: a lost or repeated frame shows
constexpr int kRestPort = 18999;

std::string address(int n) {
    return netns::loopbackAddress(n, true, 1);
}

// A tone made with the ffmpeg command, once per program.
const std::string& toneFile() {
    static audio_fixtures::TempDir dir;
    static const std::string path = [] {
        const std::string p = dir.file("tone 音.wav");
        const bool ok =
            audio_fixtures::ffmpeg("-f lavfi -i sine=frequency=" + std::to_string(int(kTone)) +
                                   ":sample_rate=44100:duration=2 -ac 2 '" + p + "'");
        return ok ? p : std::string();
    }();
    return path;
}

const std::string& notAudioFile() {
    static audio_fixtures::TempDir dir;
    static const std::string path = [] {
        const std::string p = dir.file("notes.txt");
        std::ofstream(p) << "these are not samples\n";
        return p;
    }();
    return path;
}

DeviceInfo device(int n) {
    DeviceInfo d;
    d.devId.setBoth(QStringLiteral("T%1").arg(n));
    d.address.setBoth(QString::fromStdString(address(n)));
    return d;
}

// GET path from the SDK's REST view; the body, or empty.
std::string restView() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kRestPort);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string in;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string req = "GET /v1/ctx HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
        send(fd, req.data(), req.size(), MSG_NOSIGNAL);
        char buf[4096];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0)
            in.append(buf, size_t(n));
    }
    close(fd);
    const size_t body = in.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : in.substr(body + 4);
}

size_t count(const std::vector<std::string>& calls, const std::string& prefix) {
    return size_t(std::count_if(calls.begin(), calls.end(), [&](const std::string& c) {
        return c.compare(0, prefix.size(), prefix) == 0;
    }));
}

// Decoded audio of a terminal, 48 kHz mono.
std::vector<int16_t> decode(const std::vector<std::string>& frames) {
    int err = 0;
    OpusDecoder* dec = opus_decoder_create(48000, 1, &err);
    std::vector<int16_t> out;
    std::vector<opus_int16> pcm(5760);
    for (const std::string& f : frames) {
        const int n = opus_decode(dec, reinterpret_cast<const unsigned char*>(f.data()),
                                  opus_int32(f.size()), pcm.data(), 5760, 0);
        if (n > 0)
            out.insert(out.end(), pcm.begin(), pcm.begin() + n);
    }
    opus_decoder_destroy(dec);
    return out;
}

class PlaybackTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!gPrivateNetwork)
            GTEST_SKIP() << "needs root and a private network namespace (terminal port 21012)";
        ASSERT_FALSE(toneFile().empty()) << "ffmpeg could not make the tone";
        settings::setValue(settings::musicPath, ".");
        settings::setValue(settings::musicSelectPath, "");
        settings::setValue(settings::loopPlay, "0");
        recording::reset();
    }

    // Three terminals that heartbeat often, so a test can tell when the context has
    // answered everything it sent before.
    void startTerminals(int first = 0) {
        for (int i = 0; i < 3; ++i) {
            simpelzo::TerminalConfig config;
            config.address = address(first + i);
            config.heartbeatIntervalMs = 50;
            terminals.push_back(std::make_unique<simpelzo::Terminal>(config));
            std::string error;
            ASSERT_TRUE(terminals.back()->open(error)) << error;
            devices.push_back(device(first + i));
        }
        std::vector<simpelzo::Terminal*> raw;
        for (auto& t : terminals)
            raw.push_back(t.get());
        runner = std::make_unique<simpelzo::TerminalRunner>(raw);
    }

    std::unique_ptr<PlayLocalMusicDlg> open() {
        auto dialog = std::make_unique<PlayLocalMusicDlg>(devices, nullptr, recording::api());
        return dialog;
    }

    static void choose(PlayLocalMusicDlg& dialog, const std::string& path) {
        dialog.setFileChooser([path](QWidget*, const QString&, const QString&, const QString&) {
            return QString::fromStdString(path);
        });
        dialog.openJsonFile();
    }

    // Waits until every terminal has answered one heartbeat more than now: by then it
    // has received everything the context sent before.
    void syncWithTerminals() {
        for (auto& t : terminals) {
            const int replies = t->state().heartbeatReplies;
            ASSERT_TRUE(t->waitFor(
                [&](const simpelzo::TerminalState& s) { return s.heartbeatReplies > replies; },
                10000));
        }
    }

    QVector<DeviceInfo> devices;
    std::vector<std::unique_ptr<simpelzo::Terminal>> terminals;
    std::unique_ptr<simpelzo::TerminalRunner> runner;
};

} // namespace

TEST_F(PlaybackTest, PlaysTheFileToEveryTerminalWithTheCallsOfTheDialog) {
    startTerminals(0);
    auto dialog = open();
    const std::string a0 = address(0), a1 = address(1), a2 = address(2);
    EXPECT_EQ(recording::take(), (std::vector<std::string>{
                                     "init() = 0",
                                     "ctx_create() = ctx1",
                                     "ctx_set_jitter_size(ctx1, 3, 10) = 0",
                                     "ctx_set_pack_size(ctx1, 1) = 0",
                                     "ctx_add_dev(ctx1, \"" + a0 + "\", \"574213\") = 0",
                                     "ctx_add_dev(ctx1, \"" + a1 + "\", \"574213\") = 0",
                                     "ctx_add_dev(ctx1, \"" + a2 + "\", \"574213\") = 0",
                                 }));
    EXPECT_FALSE(dialog->startButton()->isEnabled());
    choose(*dialog, toneFile());
    ASSERT_TRUE(dialog->startButton()->isEnabled());
    dialog->startButton()->click();
    EXPECT_EQ(recording::take(), (std::vector<std::string>{
                                     "src_create() = src1",
                                     "ctx_connect_src(ctx1, src1)",
                                     "src_open_url(src1, \"" + toneFile() + "\") = 0",
                                 }));

    // The two seconds of tone reach all three; each decodes it.
    for (auto& t : terminals) {
        SCOPED_TRACE(t->config().address);
        ASSERT_TRUE(t->waitFor([](const simpelzo::TerminalState& s) { return s.opus.size() >= 95; },
                               20000));
        const simpelzo::TerminalState s = t->state();
        EXPECT_EQ(s.lastAudio.jitter1, 3);
        EXPECT_EQ(s.lastAudio.jitter2, 10);
        EXPECT_EQ(size_t(s.audioPackets), s.opus.size()); // one frame per packet
        const std::vector<int16_t> pcm = decode(s.opus);
        ASSERT_GT(pcm.size(), 9600u + 4800u);
        const std::vector<int16_t> middle(pcm.begin() + 4800, pcm.end() - 4800);
        EXPECT_GT(audio_fixtures::toneShare(middle, 48000, kTone), 0.9);
        EXPECT_GT(audio_fixtures::rms(middle), 1000);
    }

    dialog->closeButton()->click();
    EXPECT_EQ(recording::take(),
              (std::vector<std::string>{"src_destroy(src1)", "ctx_destroy(ctx1)"}));
    dialog.reset();
    EXPECT_EQ(recording::take(),
              (std::vector<std::string>{"src_destroy(null)", "ctx_destroy(null)"}));
}

TEST_F(PlaybackTest, StopPlayStopsThePacketsAndStartPlaysAgain) {
    startTerminals(3);
    settings::setValue(settings::loopPlay, "1"); // the source goes on releasing frames
    auto dialog = open();
    ASSERT_TRUE(dialog->loopBox()->isChecked());
    choose(*dialog, toneFile());
    recording::take();
    dialog->startPlay();
    EXPECT_EQ(count(recording::take(), "src_set_loop(src"), 1u);
    for (auto& t : terminals)
        ASSERT_TRUE(t->waitFor(
            [](const simpelzo::TerminalState& s) { return s.audioPackets >= 10; }, 20000));

    dialog->stopButton()->click();
    EXPECT_EQ(recording::take(), (std::vector<std::string>{"ctx_disconnect_src(ctx1)"}));
    syncWithTerminals();
    std::vector<int> packets;
    for (auto& t : terminals)
        packets.push_back(t->state().audioPackets);
    // A few heartbeats later, with the source still looping: nothing more arrived.
    for (int i = 0; i < 3; ++i)
        syncWithTerminals();
    for (size_t i = 0; i < terminals.size(); ++i)
        EXPECT_EQ(terminals[i]->state().audioPackets, packets[i]) << terminals[i]->config().address;

    // A new start plays again, on a fresh source.
    dialog->startPlay();
    for (size_t i = 0; i < terminals.size(); ++i)
        ASSERT_TRUE(terminals[i]->waitFor(
            [&](const simpelzo::TerminalState& s) { return s.audioPackets > packets[i] + 10; },
            20000));
}

// Pressing "Start play" while a source plays: the earlier source is destroyed through
// the library before the next one is made, so sources do not pile up on its worker.
TEST_F(PlaybackTest, StartingAgainDestroysTheEarlierSource) {
    startTerminals(6);
    auto dialog = open();
    choose(*dialog, toneFile());
    dialog->startPlay();
    ASSERT_NE(dialog->playback().source(), nullptr);
    ASSERT_EQ(procself::openCopies(toneFile()), 1); // the source reads the file as it plays
    recording::take();
    dialog->startPlay();
    const std::vector<std::string> calls = recording::take();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0], "src_destroy(src1)");
    EXPECT_EQ(calls[1].substr(0, 15), "src_create() = ");
    // The library holds the file open once, for the latest source only.
    EXPECT_EQ(procself::openCopies(toneFile()), 1);
    for (auto& t : terminals)
        ASSERT_TRUE(t->waitFor(
            [](const simpelzo::TerminalState& s) { return s.audioPackets >= 10; }, 20000));
}

TEST_F(PlaybackTest, AFileTheLibraryCannotOpenShowsTheBox) {
    startTerminals(9);
    auto dialog = open();
    choose(*dialog, notAudioFile());
    recording::take();
    BoxAnswerer boxes({QMessageBox::Ok});
    testing::internal::CaptureStdout();
    dialog->startPlay();
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_EQ(boxes.seen()[0].title, "error");
    EXPECT_EQ(boxes.seen()[0].text, "音频播放失败, 请确认选择文件是否正确");
    // The library logs to standard output too; the dialog's line stands on its own.
    EXPECT_NE(("\n" + out).find("\nfailed to open file\n"), std::string::npos) << out;
    EXPECT_EQ(recording::take(), (std::vector<std::string>{
                                     "src_create() = src1",
                                     "ctx_connect_src(ctx1, src1)",
                                     "src_open_url(src1, \"" + notAudioFile() + "\") = 1",
                                 }));
    // Nothing else changes: the file stays chosen, the dialog stays usable.
    EXPECT_EQ(dialog->selectPath().toStdString(), notAudioFile());
    EXPECT_TRUE(dialog->startButton()->isEnabled());
}

// The title bar's close button and "Close Window" release the context exactly once; the
// destruction afterwards passes null handles.
TEST_F(PlaybackTest, EveryWayOfClosingReleasesOnce) {
    startTerminals(12);
    const std::function<void(PlayLocalMusicDlg&)> closes[] = {
        [](PlayLocalMusicDlg& d) { d.closeButton()->click(); },
        [](PlayLocalMusicDlg& d) { d.close(); }, // what the title bar's button does
    };
    for (const auto& closeIt : closes) {
        auto dialog = open();
        choose(*dialog, toneFile());
        dialog->show();
        dialog->startPlay();
        pelzo_ctx* ctx = dialog->playback().context();
        recording::take();
        closeIt(*dialog);
        EXPECT_FALSE(dialog->isVisible());
        dialog.reset();
        const std::vector<std::string> calls = recording::take();
        ASSERT_EQ(calls.size(), 4u);
        EXPECT_EQ(calls[0].substr(0, 15), "src_destroy(src");
        EXPECT_EQ(calls[1].substr(0, 15), "ctx_destroy(ctx");
        EXPECT_EQ(calls[2], "src_destroy(null)");
        EXPECT_EQ(calls[3], "ctx_destroy(null)");
        EXPECT_EQ(pelzo_ctx_add_dev(ctx, address(12).c_str(), nullptr), 1) << "still alive";
    }
}

TEST_F(PlaybackTest, FileChoiceAndLoopSettingRoundTrip) {
    devices = {device(15)};
    {
        auto dialog = open();
        EXPECT_EQ(dialog->fileLabel()->text(), "请选择需要播放的音频: ");
        EXPECT_FALSE(dialog->loopBox()->isChecked());
        // Cancelling the chooser changes nothing.
        choose(*dialog, "");
        EXPECT_FALSE(dialog->startButton()->isEnabled());
        EXPECT_EQ(settings::value(settings::musicSelectPath), "");
        choose(*dialog, toneFile());
        EXPECT_EQ(dialog->fileLabel()->text(), "播放文件为: " + QString::fromStdString(toneFile()));
        dialog->loopBox()->setChecked(true);
        EXPECT_EQ(settings::value(settings::loopPlay), "1");
    }
    const QString folder = QString::fromStdString(toneFile()).section('/', 0, -2);
    EXPECT_EQ(settings::value(settings::musicPath), folder);
    EXPECT_EQ(settings::value(settings::musicSelectPath).toStdString(), toneFile());
    {
        auto dialog = open();
        EXPECT_TRUE(dialog->loopBox()->isChecked());
        EXPECT_TRUE(dialog->startButton()->isEnabled());
        EXPECT_EQ(dialog->musicPath(), folder);
        EXPECT_EQ(dialog->fileLabel()->text(), "播放文件为: " + QString::fromStdString(toneFile()));
        recording::take();
        dialog->startPlay();
        EXPECT_EQ(count(recording::take(), "src_set_loop(src"), 1u);
        dialog->loopBox()->setChecked(false);
        EXPECT_EQ(settings::value(settings::loopPlay), "0");
    }
    auto dialog = open();
    EXPECT_FALSE(dialog->loopBox()->isChecked());
    recording::take();
    dialog->startPlay();
    EXPECT_EQ(count(recording::take(), "src_set_loop("), 0u);
}

// The library is initialised at every opening and never shut down, as the dialog is
// written; ten openings leave one worker thread, no context and no descriptor behind.
TEST_F(PlaybackTest, TenOpeningsLeaveOneWorkerAndNothingBehind) {
    startTerminals(16);
    auto cycle = [&] {
        auto dialog = open();
        choose(*dialog, toneFile());
        dialog->show();
        dialog->startPlay();
        dialog->startPlay();
        dialog->closeWindow();
    };
    cycle();
    ASSERT_EQ(pelzo_start_rest_server("127.0.0.1", kRestPort), 0);
    // The view answers on the worker after the deferred deletions of earlier passes.
    ASSERT_EQ(restView(), R"({"code":200,"message":"","data":[]})");
    const int threads = procself::threads();
    const int descriptors = procself::descriptors();
    for (int i = 1; i < 10; ++i) {
        cycle();
        EXPECT_EQ(restView(), R"({"code":200,"message":"","data":[]})") << "opening " << i + 1;
    }
    EXPECT_EQ(procself::threads(), threads);
    EXPECT_EQ(procself::descriptors(), descriptors);
    EXPECT_EQ(count(recording::take(), "init() = 0"), 10u);
}

int main(int argc, char** argv) {
    tesmo::test::isolateEnvironment();
    ::testing::InitGoogleTest(&argc, argv);
    // Before any thread exists: the library's worker must live in the private network.
    gPrivateNetwork = ::geteuid() == 0 && netns::enterLoopbackOnly();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
