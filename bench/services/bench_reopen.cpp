// Memory across reopenings of the local playback dialog. The dialog initialises the
// library at every opening and never shuts it down; this measures whether anything piles
// up. Each opening adds three terminals, plays a file, starts again (which replaces the
// source), stops and closes. Heap in use and resident memory are read after a warm-up
// and after N more openings, against a baseline of the same openings with the library
// calls replaced by stubs (the dialog's own Qt cost). Goal: the library adds less than
// 1 KiB per opening on top of the baseline, and one worker thread in all.
// Runs in a private network namespace (the terminals' port 21012); needs root.
#include "audio_fixtures.h"
#include "bench_result.h"
#include "netns.h"
#include "pelzo_terminal.h"
#include "proc_self.h"

#include "services/playlocalmusicdlg.h"

#include <QApplication>

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace {

long long heapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<long long>(m.uordblks + m.hblkhd);
}

// Stubs: what the dialog costs without the library.
char stubObject[2];
int stubInit() {
    return 0;
}
pelzo_ctx* stubCtx() {
    return reinterpret_cast<pelzo_ctx*>(&stubObject[0]);
}
int stubCtxInt(pelzo_ctx*, int) {
    return 0;
}
int stubJitter(pelzo_ctx*, int, int) {
    return 0;
}
int stubAdd(pelzo_ctx*, const char*, const char*) {
    return 0;
}
pelzo_src* stubSrc() {
    return reinterpret_cast<pelzo_src*>(&stubObject[1]);
}
void stubLoop(pelzo_src*, bool) {}
void stubConnect(pelzo_ctx*, pelzo_src*) {}
int stubOpen(pelzo_src*, const char*) {
    return 0;
}
void stubCtxVoid(pelzo_ctx*) {}
void stubSrcVoid(pelzo_src*) {}

const PelzoApi kStubs{stubInit, stubCtx,     stubJitter, stubCtxInt,  stubAdd,     stubSrc,
                      stubLoop, stubConnect, stubOpen,   stubCtxVoid, stubSrcVoid, stubCtxVoid};

const char* const kHeapMeasure =
    "heap per playback dialog opening, library minus stubbed calls, against a 1 KiB budget";
const char* const kThreadMeasure = "threads the library adds over all openings, against one";

struct Figures {
    double heapPerOpening;
    double rssKiBPerOpening;
};

Figures measure(const PelzoApi& api, const QVector<DeviceInfo>& devices, const QString& file,
                int openings) {
    auto cycle = [&] {
        PlayLocalMusicDlg dialog(devices, nullptr, api);
        dialog.setFileChooser(
            [&](QWidget*, const QString&, const QString&, const QString&) { return file; });
        dialog.openJsonFile();
        dialog.show();
        dialog.startPlay();
        dialog.startPlay();
        dialog.stopPlay();
        dialog.closeWindow();
    };
    auto settle = [&] {
        QCoreApplication::processEvents();
        // Two waited calls: the worker has finished the pass that deleted what the
        // posted destroy calls released.
        if (api.init == PelzoApi::library().init) {
            pelzo_ctx_set_pack_size(nullptr, 1);
            pelzo_ctx_set_pack_size(nullptr, 1);
        }
        malloc_trim(0);
    };
    for (int i = 0; i < 20; ++i)
        cycle();
    settle();
    const long long heap0 = heapInUse();
    const long rss0 = procself::statusKiB("VmRSS");
    for (int i = 0; i < openings; ++i)
        cycle();
    settle();
    return {double(heapInUse() - heap0) / openings,
            double(procself::statusKiB("VmRSS") - rss0) / openings};
}

} // namespace

int main(int argc, char** argv) {
    int openings = 200;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--openings")
            openings = std::atoi(argv[i + 1]);
    if (::geteuid() != 0 || !netns::enterLoopbackOnly()) {
        std::printf("bench_reopen: skipped (needs root and a private network namespace)\n");
        bench::unavailable(kHeapMeasure, bench::Goal::AtMost, 1);
        bench::unavailable(kThreadMeasure, bench::Goal::AtMost, 1);
        return 0;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Settings of this run only.
    const std::string home = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                             "/tesmo-bench-reopen-" + std::to_string(getpid());
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    QApplication app(argc, argv);

    audio_fixtures::TempDir dir;
    const std::string tone = dir.file("tone.wav");
    if (!audio_fixtures::ffmpeg("-f lavfi -i sine=frequency=440:duration=2 " + tone)) {
        std::fprintf(stderr, "bench_reopen: ffmpeg could not make the tone\n");
        return 1;
    }
    std::vector<std::unique_ptr<simpelzo::Terminal>> terminals;
    std::vector<simpelzo::Terminal*> raw;
    QVector<DeviceInfo> devices;
    for (int i = 0; i < 3; ++i) {
        simpelzo::TerminalConfig config;
        config.address = netns::loopbackAddress(i, true, 1);
        config.maxRecordedFrames = 0;
        terminals.push_back(std::make_unique<simpelzo::Terminal>(config));
        std::string error;
        if (!terminals.back()->open(error)) {
            std::fprintf(stderr, "bench_reopen: %s\n", error.c_str());
            return 1;
        }
        raw.push_back(terminals.back().get());
        DeviceInfo d;
        d.devId.setBoth(QStringLiteral("B%1").arg(i));
        d.address.setBoth(QString::fromStdString(config.address));
        devices.push_back(d);
    }
    simpelzo::TerminalRunner runner(raw);

    const int threadsBefore = procself::threads();
    const QString file = QString::fromStdString(tone);
    const Figures baseline = measure(kStubs, devices, file, openings);
    const Figures library = measure(PelzoApi::library(), devices, file, openings);
    const int added = procself::threads() - threadsBefore;

    const double extra = library.heapPerOpening - baseline.heapPerOpening;
    std::printf("bench_reopen: %d openings each after a warm-up of 20\n", openings);
    std::printf("  heap growth per opening: library %.0f B, baseline (stubs) %.0f B, "
                "difference %.0f B (goal < 1024 B: %s)\n",
                library.heapPerOpening, baseline.heapPerOpening, extra,
                extra < 1024 ? "met" : "NOT met");
    std::printf("  resident growth per opening: library %.2f KiB, baseline %.2f KiB\n",
                library.rssKiBPerOpening, baseline.rssKiBPerOpening);
    std::printf("  threads added by the library: %d (goal 1: %s)\n", added,
                added == 1 ? "met" : "NOT met");
    bench::atMost(kHeapMeasure, extra / 1024, 1);
    bench::atMost(kThreadMeasure, added, 1);
    const std::string rm = "rm -rf '" + home + "'";
    if (std::system(rm.c_str()) != 0)
        std::fprintf(stderr, "bench_reopen: could not remove %s\n", home.c_str());
    return 0;
}
