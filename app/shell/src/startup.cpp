#include "shell/startup.h"

#include "platform.h"
#include "shell/app_settings.h"
#include "shell/language.h"
#include "shell/layout.h"
#include "shell/mainwindow.h"
#include "shell/service_controller.h"
#include "shell/single_application.h"
#include "shell/version.h"

#include "resources/resources.h"
#include "update/kubbundle.h"
#include "update/memoryfileserver.h"
#include "update/murloserver.h"

#include <kohttp/qt/http_server.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QHostAddress>
#include <QTranslator>

#include <cstdio>

namespace tesmo {

namespace {

struct Options {
    bool version = false;
    bool console = false;
};

Options parseOptions(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    const QCommandLineOption versionOption(
        QStringLiteral("v"), QCoreApplication::translate("tesmo::Startup", "Print version"));
    const QCommandLineOption consoleOption(
        QStringLiteral("c"), QCoreApplication::translate("tesmo::Startup", "Enable console log"));
    parser.addOption(versionOption);
    parser.addOption(consoleOption);
    if (!parser.parse(args)) {
        // An unknown option is reported and ignored rather than refusing to start.
        const QByteArray text = parser.errorText().toLocal8Bit() + '\n';
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    }
    return Options{parser.isSet(versionOption), parser.isSet(consoleOption)};
}

// Uninstalls the handler before statics go away, so late Qt messages never
// reach a destroyed LogService.
struct HandlerGuard {
    HandlerGuard() { qInstallMessageHandler(logMessageHandler); }
    ~HandlerGuard() { qInstallMessageHandler(nullptr); }
};

} // namespace

int runProgram(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setOrganizationName(QLatin1String(settings::kOrganization));
    QCoreApplication::setApplicationName(QLatin1String(settings::kApplication));

    const Options options = parseOptions(argc, argv);
    if (options.version) {
        std::printf("%s\n", kVersion);
        std::fflush(stdout);
        return 0;
    }

    setConsoleLog(options.console);
    HandlerGuard handler;

    SingleApplication app(argc, argv);
    if (app.isRunning()) {
        qDebug() << "正在运行";
        return 0;
    }
    qDebug() << "没有在运行";

    // The file-transfer server hands MurloMessage between its objects and threads.
    registerMurloTypes();

    initResources();
    QTranslator translator;
    LanguageSwitcher languages(&translator, layout::translationDirs(platform::executableDir()));
    if (languages.load(translationFile(QStringLiteral("zh"))))
        languages.loadQtTexts(QStringLiteral("zh"));

    // Local servers for terminals fetching update files. They are declared
    // before the window, so they go only after the event loop has ended.
    MemoryFileServer::instance().addFile(QStringLiteral("/hello"), QStringLiteral("text/plain"),
                                         QByteArrayLiteral("Hello, world!\n"));
    kohttp::qt::HttpServer httpServer;
    httpServer.route(kohttp::kMethodGet, QStringLiteral("/"), &MemoryFileServer::instance());
    emit httpServer.d()->start(QHostAddress(QHostAddress::AnyIPv4), MemoryFileServer::kHttpPort);
    // The file-transfer server serves the bundle chosen last time on port 9208.
    KubBundle::instance()->loadSaved(settings::value(settings::bundlePath));
    emit MurloServer::instance()->priv()->start(MurloServer::kDefaultPort);

    MainWindow window;
    languages.setRetranslate([&window] { window.retranslate(); });
    QObject::connect(&window, &MainWindow::changeLanguage, &languages,
                     &LanguageSwitcher::changeLanguage);
    window.show();
    app.setWindow(&window);

    const int status = app.exec();
    app.setWindow(nullptr);
    MurloServer::destroyInstance();
    return status;
}

} // namespace tesmo
