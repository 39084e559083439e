// Renders the main window with a few terminals to a PNG, for the documentation.
// The rows are fed through the window's own reply handling; nothing is sent.
// Usage: tesmo-screenshot <out.png> [zh|en|kr]
#include "devicelink/devicediscovery.h"
#include "devicelink/devicepacket.h"
#include "devicetable/devicesmodel.h"
#include "resources/resources.h"
#include "shell/language.h"
#include "shell/mainwindow.h"

#include <QApplication>
#include <QHostAddress>
#include <QItemSelectionModel>
#include <QPixmap>
#include <QTableView>
#include <QTranslator>

#include <cstdio>

namespace {

struct DemoTerminal {
    const char* id;
    const char* name;
    const char* feature;
    const char* proto;
    const char* address;
    const char* volume;
    const char* iccid;
};

const DemoTerminal kFleet[] = {
    {"A10001", "大厅音柱", "aoip.p", "static", "10.77.0.11", "60", ""},
    {"A10002", "会议室音箱", "aoip.p", "dhcp", "10.77.0.12", "45", ""},
    {"A10003", "前台寻呼话筒", "aoip.c", "static", "10.77.0.13", "70", ""},
    {"A10004", "东门报警终端", "aoip.f", "static", "10.77.0.14", "80", "89860012345678901234"},
    {"A10005", "TTS播报器", "aoip.x", "static", "10.77.0.15", "55", ""},
    {"A10006", "仓库对讲", "aoip.s", "dhcp", "10.77.0.16", "50", "89860098765432109876"},
    {"A10007", "操场音柱", "aoip.p", "static", "10.77.0.17", "90", ""},
};

void feed(DeviceDiscovery* discovery, const DemoTerminal& t) {
    DevicePacket p = DevicePacket::request(DeviceCode::Scan + 1);
    p.insert("DEV_ID", t.id);
    p.insert("DEV_NAME", QByteArray(t.name));
    p.insert("F", t.feature);
    p.insert("PROTO", t.proto);
    p.insert("ADDRESS", t.address);
    p.insert("NETMASK", "255.255.255.0");
    p.insert("GATEWAY", "10.77.0.1");
    p.insert("HW_ADDR", QByteArray("00:1a:2b:3c:4d:") + QByteArray(t.id).right(2));
    p.insert("DEV_SERIAL", QByteArray("SN-") + t.id);
    p.insert("AO_VOLUME", t.volume);
    p.insert("AI_VOLUME", "50");
    p.insert("AV", "3.2.1");
    p.insert("VV", "1.8.0");
    p.insert("bcast-client/server.ip", "10.77.0.2");
    p.insert("bcast-client/server.port", "5000");
    if (*t.iccid)
        p.insert("ICCID", t.iccid);
    p.insert("message", "ok");
    discovery->handleReply(QHostAddress(QString::fromLatin1(t.address)), p);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <out.png> [zh|en|kr]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    tesmo::initResources();
    QTranslator translator;
    tesmo::LanguageSwitcher languages(&translator, QCoreApplication::applicationDirPath());
    languages.load(tesmo::translationFile(argc > 2 ? QString::fromLocal8Bit(argv[2]) : "zh"));

    MainWindow window;
    window.retranslate();
    window.resize(1860, 620);
    DeviceDiscovery* discovery = window.discovery();
    for (const DemoTerminal& t : kFleet)
        feed(discovery, t);
    discovery->flushPending();

    // One pending edit, so the picture shows the modified colour, and a selected
    // row, so it shows the actions that need one.
    DevicesModel* model = window.model();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QString id = model->deviceAt(row)->devId.reported;
        if (id == QLatin1String("A10003"))
            model->setData(model->index(row, DevicesModel::columnIndex("AO_VOLUME")), "85");
        if (id == QLatin1String("A10005"))
            window.tableView()->selectionModel()->select(
                model->index(row, 1), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    window.show();
    QCoreApplication::processEvents();
    if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
