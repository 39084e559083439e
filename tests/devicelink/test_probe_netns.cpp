// The address-range probe against simulated terminals, inside a private network namespace:
// the manager sits at 10.78.5.77/24 on a link that drops everything (no neighbour
// resolution, no peer address), so addresses without a terminal stay silent until the
// REST time-out; terminals are local addresses served by terminal-sim.
#include "devicelink/addressprobe.h"
#include "devicelink/ifacedlg.h"
#include "netns.h"
#include "qtapp.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

const char* const segmentLink = "pv0";
const char* const localAddress = "10.78.5.77";

struct SimTerminal {
    int host;
    const char* devId; // null: the terminal reports no DEV_ID
    const char* ethIp; // null: its own address
};
const SimTerminal terminals[] = {
    {1, "P-001", nullptr},   {2, "P-002", nullptr},          {100, "P-100", nullptr},
    {200, "P-200", nullptr}, {254, "P-254", "192.168.50.5"}, {150, nullptr, nullptr},
};
// A local address where nothing listens: the connection is refused at once.
const int refusingHost = 151;

std::string segmentAddress(int host) {
    return "10.78.5." + std::to_string(host);
}

bool sh(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

QStringList gLog;
void captureLog(QtMsgType, const QMessageLogContext&, const QString& text) {
    gLog << text;
}

class ProbeNetns : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ensureQtApp();
        inside_ = netns::enter(&why_);
    }

    void SetUp() override {
        if (!inside_)
            GTEST_SKIP() << why_;
        removeSegment();
        setRequestTimeoutMsForTesting(300);
        gLog.clear();
        previousHandler_ = qInstallMessageHandler(captureLog);
    }
    void TearDown() override {
        if (!inside_)
            return;
        qInstallMessageHandler(previousHandler_);
        setRequestTimeoutMsForTesting(5000);
        sim_.stop();
        removeSegment();
    }

    static void removeSegment() {
        sh(std::string("ip link del ") + segmentLink);
        for (const SimTerminal& t : terminals)
            sh("ip route del local " + segmentAddress(t.host) + "/32 dev lo");
        sh("ip route del local " + segmentAddress(refusingHost) + "/32 dev lo");
    }

    // The /24 segment and the terminals on it.
    void addSegmentWithTerminals() {
        const std::string link = segmentLink;
        ASSERT_TRUE(sh("ip link add " + link + " type veth peer name pv1 && ip link set " + link +
                       " arp off && ip link set " + link + " up && ip link set pv1 up && " +
                       "ip addr add " + localAddress + "/24 dev " + link));
        QString fleet;
        for (const SimTerminal& t : terminals) {
            ASSERT_TRUE(sh("ip route add local " + segmentAddress(t.host) + "/32 dev lo"));
            fleet += QStringLiteral("[terminal]\n@bind = %1\n").arg(segmentAddress(t.host).c_str());
            if (t.devId)
                fleet += QStringLiteral("DEV_ID = %1\n").arg(t.devId);
            if (t.ethIp)
                fleet += QStringLiteral("ADDRESS = %1\n").arg(t.ethIp);
        }
        ASSERT_TRUE(sh("ip route add local " + segmentAddress(refusingHost) + "/32 dev lo"));
        ASSERT_TRUE(dir_.isValid());
        const QString path = dir_.filePath(QStringLiteral("fleet.txt"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(fleet.toUtf8());
        file.close();
        std::string why;
        ASSERT_TRUE(sim_.start({TERMINAL_SIM_PATH, "--fleet", path.toStdString()}, &why)) << why;
        ASSERT_TRUE(sim_.waitForLine("terminal-sim ready", 10000)) << "terminal-sim did not start";
    }

    // Runs "Search2" choosing `address`, then the event loop until the dialog is gone.
    void probe(const QString& address) {
        ProbeLauncher launcher(&model_, &window_);
        launcher.setDialogRunner([&](IFaceDlg& dlg) {
            const int item = dlg.chooser()->findText(address);
            ASSERT_GE(item, 0) << "segment not offered";
            dlg.chooser()->setCurrentIndex(item);
            QObject::connect(dlg.probe(), &AddressProbe::finished, [this, &dlg] {
                sentAtEnd_ = dlg.requestsSent();
                repliesAtEnd_ = dlg.repliesReceived();
                rowsAtEnd_ = model_.rowCount();
            });
            dlg.show();
            dlg.okButton()->click();
            hiddenAfterOk_ = !dlg.isVisible();
        });
        launcher.ipProbe();
        dialog_ = launcher.dialog();
        // A safety bound only: the run ends after the shortened time-out.
        const QDeadlineTimer bound(60000);
        while (dialog_ && !bound.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }

    static inline bool inside_ = false;
    static inline std::string why_;
    QtMessageHandler previousHandler_ = nullptr;
    netns::Child sim_;
    QTemporaryDir dir_;
    DevicesModel model_;
    QWidget window_;
    QPointer<IFaceDlg> dialog_;
    int sentAtEnd_ = -1;
    int repliesAtEnd_ = -1;
    int rowsAtEnd_ = -1;
    bool hiddenAfterOk_ = false;
};

} // namespace

TEST_F(ProbeNetns, HostWithOnlyA16OffersNoSegment) {
    // The namespace's only address besides loopback is 10.77.0.1/16.
    EXPECT_TRUE(hostSegments().isEmpty());
    IFaceDlg dlg(&model_);
    EXPECT_EQ(dlg.chooser()->count(), 0);
    dlg.show();
    dlg.okButton()->click();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_FALSE(dlg.probe()->started());
}

TEST_F(ProbeNetns, FindsEveryTerminalOfA24) {
    addSegmentWithTerminals();
    if (HasFatalFailure())
        return;
    const QVector<ProbeSegment> offered = hostSegments();
    ASSERT_EQ(offered.size(), 1);
    EXPECT_EQ(QHostAddress(offered[0].netmask).toString(), QStringLiteral("255.255.255.0"));

    DeviceInfo old;
    old.devId.setBoth(QStringLiteral("FROM-EARLIER-SCAN"));
    model_.addOrUpdate(old);

    probe(QString::fromLatin1(localAddress));
    ASSERT_TRUE(dialog_.isNull()) << "the dialog outlived its last reply";
    EXPECT_TRUE(hiddenAfterOk_);
    EXPECT_EQ(sentAtEnd_, 254);
    EXPECT_EQ(repliesAtEnd_, 254);

    // Every terminal with a DEV_ID, nothing else (the earlier row went with the clear).
    ASSERT_EQ(model_.rowCount(), 5);
    EXPECT_EQ(rowsAtEnd_, 5);
    for (const SimTerminal& t : terminals) {
        if (!t.devId)
            continue;
        const DeviceInfo* d = model_.find(QString::fromLatin1(t.devId));
        ASSERT_NE(d, nullptr) << t.devId;
        const QString address =
            t.ethIp ? QString::fromLatin1(t.ethIp) : QString::fromStdString(segmentAddress(t.host));
        EXPECT_EQ(d->address.reported, address);
        EXPECT_EQ(d->address.current, address);
        EXPECT_EQ(d->proto.reported, QStringLiteral("-"));
        EXPECT_EQ(d->proto.current, QStringLiteral("-"));
        EXPECT_TRUE(d->devName.reported.isEmpty() && d->time.reported.isEmpty());
    }

    EXPECT_TRUE(gLog.contains(QStringLiteral("local_ip 10.78.5.77 mask 255.255.255.0")))
        << gLog.join('\n').toStdString();
    EXPECT_EQ(gLog.count(QStringLiteral("close and delete")), 1);
}

TEST_F(ProbeNetns, SilentAddressesEndTheRunAfterTheTimeOut) {
    // The segment alone: no terminal answers, 253 addresses stay silent, one refuses.
    const std::string link = segmentLink;
    ASSERT_TRUE(sh("ip link add " + link + " type veth peer name pv1 && ip link set " + link +
                   " arp off && ip link set " + link + " up && ip link set pv1 up && " +
                   "ip addr add " + localAddress + "/24 dev " + link + " && ip route add local " +
                   segmentAddress(refusingHost) + "/32 dev lo"));
    setRequestTimeoutMsForTesting(100);
    probe(QString::fromLatin1(localAddress));
    ASSERT_TRUE(dialog_.isNull());
    EXPECT_EQ(sentAtEnd_, 254);
    EXPECT_EQ(repliesAtEnd_, 254);
    EXPECT_EQ(model_.rowCount(), 0);
}

TEST_F(ProbeNetns, ANewProbeIsNotFilledByTheRunBeforeIt) {
    addSegmentWithTerminals();
    if (HasFatalFailure())
        return;
    ProbeLauncher launcher(&model_, &window_);
    launcher.setDialogRunner([](IFaceDlg& dlg) {
        dlg.chooser()->setCurrentIndex(dlg.chooser()->findText(QString::fromLatin1(localAddress)));
        dlg.okButton()->click();
    });
    launcher.ipProbe();
    QPointer<IFaceDlg> earlier = launcher.dialog();
    ASSERT_FALSE(earlier.isNull());
    ASSERT_GT(earlier->requestsSent() - earlier->repliesReceived(), 0);

    // "Search2" again, cancelled: the table stays empty while the earlier run ends.
    launcher.setDialogRunner([](IFaceDlg& dlg) { dlg.cancelButton()->click(); });
    launcher.ipProbe();
    const QDeadlineTimer bound(60000);
    while (earlier && !bound.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ASSERT_TRUE(earlier.isNull());
    EXPECT_EQ(model_.rowCount(), 0);
}
