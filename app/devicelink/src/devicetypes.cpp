#include "devicelink/devicepacket.h"

const std::vector<DeviceType>& deviceTypes() {
    static const QString bcastServer = QStringLiteral("bcast-client/server.ip");
    static const QString bcastPort = QStringLiteral("bcast-client/server.port");
    // The POC port key really differs from its server key ("." against "/").
    static const QString pocServer = QStringLiteral("smart_poc/poc.server.ip");
    static const QString pocPort = QStringLiteral("smart_poc.poc.server.port");
    static const std::vector<DeviceType> types = {
        {QStringLiteral("any"), QT_TRANSLATE_NOOP("MainWindow", "所有终端"), bcastServer,
         bcastPort},
        {QStringLiteral("aoip.p"), QT_TRANSLATE_NOOP("MainWindow", "音箱音柱"), bcastServer,
         bcastPort},
        {QStringLiteral("aoip.c"), QT_TRANSLATE_NOOP("MainWindow", "寻呼话筒"), bcastServer,
         bcastPort},
        {QStringLiteral("aoip.c/kb"), QT_TRANSLATE_NOOP("MainWindow", "按键话筒"), bcastServer,
         bcastPort},
        {QStringLiteral("aoip.e"), QT_TRANSLATE_NOOP("MainWindow", "采播终端"), bcastServer,
         bcastPort},
        {QStringLiteral("aoip.t"), QT_TRANSLATE_NOOP("MainWindow", "TTS终端"), bcastServer,
         bcastPort},
        {QStringLiteral("aoip.s"), QT_TRANSLATE_NOOP("MainWindow", "呼叫终端"), bcastServer,
         bcastPort},
        {QStringLiteral("aoip.svr"), QT_TRANSLATE_NOOP("MainWindow", "广播服务"), QString(),
         QString()},
        {QStringLiteral("aoip.f"), QT_TRANSLATE_NOOP("MainWindow", "报警终端"), bcastServer,
         bcastPort},
        {QStringLiteral("aoip.x"), QT_TRANSLATE_NOOP("MainWindow", "TTS播报"), bcastServer,
         bcastPort},
        {QStringLiteral("poc.s"), QT_TRANSLATE_NOOP("MainWindow", "POC终端1"), pocServer, pocPort},
        {QStringLiteral("poc.i"), QT_TRANSLATE_NOOP("MainWindow", "POC终端2"), pocServer, pocPort},
        {QString(), QT_TRANSLATE_NOOP("MainWindow", "未授权"), QString(), QString()},
    };
    return types;
}
