// The address-range probe of a /24 with 20 simulated terminals and 234 silent addresses,
// inside a private network namespace, with the real 5000 ms REST time-out.
// Prints the time until the last reply as a ratio to the bare time-out (goal: at most
// 1.1x), and the resident memory before and after the probes: it must level off after
// the first, since nothing of a finished probe is kept.
#include "bench_result.h"

#include "devicelink/addressprobe.h"
#include "devicelink/ifacedlg.h"
#include "netns.h"
#include "proc_self.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

const char* const localAddress = "10.79.5.77";
constexpr int terminalCount = 20;

std::string segmentAddress(int host) {
    return "10.79.5." + std::to_string(host);
}

bool sh(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Builds the segment: the manager on a link that drops everything (so addresses without
// a terminal stay silent), terminals on local addresses spread over the /24.
bool buildSegment(std::string* fleet) {
    if (!sh(std::string("ip link add pb0 type veth peer name pb1 && ip link set pb0 arp off && "
                        "ip link set pb0 up && ip link set pb1 up && ip addr add ") +
            localAddress + "/24 dev pb0"))
        return false;
    for (int i = 0; i < terminalCount; ++i) {
        const int host = 1 + i * 12; // 1, 13, ... 229: never the local .77
        if (!sh("ip route add local " + segmentAddress(host) + "/32 dev lo"))
            return false;
        *fleet += "[terminal]\n@bind = " + segmentAddress(host) + "\nDEV_ID = B-" +
                  std::to_string(host) + "\n";
    }
    return true;
}

struct Run {
    qint64 ms = 0;
    int sent = 0;
    int replies = 0;
    int rows = 0;
};

Run probeOnce(DevicesModel& model, QWidget& window) {
    Run run;
    QElapsedTimer clock;
    ProbeLauncher launcher(&model, &window);
    launcher.setDialogRunner([&](IFaceDlg& dlg) {
        dlg.chooser()->setCurrentIndex(dlg.chooser()->findText(QString::fromLatin1(localAddress)));
        QObject::connect(dlg.probe(), &AddressProbe::finished, [&] {
            run.ms = clock.elapsed();
            run.sent = dlg.requestsSent();
            run.replies = dlg.repliesReceived();
        });
        clock.start();
        dlg.okButton()->click();
    });
    launcher.ipProbe();
    QPointer<IFaceDlg> dialog = launcher.dialog();
    while (dialog)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    run.rows = model.rowCount();
    return run;
}

} // namespace

int main(int argc, char** argv) {
    std::string why;
    if (!netns::enter(&why)) {
        std::printf("bench_probe: skipped: %s\n", why.c_str());
        return 0;
    }
    std::string fleetText;
    if (!buildSegment(&fleetText)) {
        std::printf("bench_probe: skipped: cannot build the test segment\n");
        return 0;
    }
    const std::string fleetPath = "/tmp/bench_probe_fleet_" + std::to_string(getpid());
    std::ofstream(fleetPath) << fleetText;
    netns::Child sim;
    if (!sim.start({TERMINAL_SIM_PATH, "--fleet", fleetPath}, &why) ||
        !sim.waitForLine("terminal-sim ready", 10000)) {
        std::printf("bench_probe: skipped: terminal-sim did not start %s\n", why.c_str());
        return 0;
    }
    std::remove(fleetPath.c_str());

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    DevicesModel model;
    QWidget window;

    const long rssBefore = procself::statusKiB("VmRSS");
    const Run first = probeOnce(model, window);
    const long rssFirst = procself::statusKiB("VmRSS");
    const Run second = probeOnce(model, window);
    const long rssSecond = procself::statusKiB("VmRSS");
    // Many more runs with a short time-out: memory must level off, not grow per run.
    setRequestTimeoutMsForTesting(300);
    constexpr int extraRuns = 20;
    bool extraOk = true;
    for (int k = 0; k < extraRuns; ++k)
        extraOk = probeOnce(model, window).replies == 254 && extraOk;
    const long rssExtra = procself::statusKiB("VmRSS");
    const long peak = procself::statusKiB("VmHWM");
    setRequestTimeoutMsForTesting(5000);

    for (const Run* r : {&first, &second}) {
        std::printf("probe /24: %d requests, %d replies, %d terminals found; last reply after "
                    "%lld ms\n",
                    r->sent, r->replies, r->rows, static_cast<long long>(r->ms));
    }
    const qint64 slower = std::max(first.ms, second.ms);
    std::printf("ratio to the bare %d ms time-out: %.3fx (goal <= 1.1x)\n", requestTimeoutMs(),
                double(slower) / requestTimeoutMs());
    bench::atMost("probe of a /24, last reply / bare request time-out",
                  double(slower) / requestTimeoutMs(), 1.1);
    std::printf("RSS: before %ld KiB, after probe 1 %ld KiB, after probe 2 %ld KiB, after %d "
                "more %ld KiB (%+.1f KiB per run after the first), peak %ld KiB\n",
                rssBefore, rssFirst, rssSecond, extraRuns, rssExtra,
                double(rssExtra - rssFirst) / (extraRuns + 1), peak);
    const bool ok = first.rows == terminalCount && second.rows == terminalCount &&
                    first.replies == 254 && second.replies == 254 && extraOk;
    if (!ok)
        std::printf("bench_probe: unexpected result\n");
    return ok ? 0 : 1;
}
