#include "shell/service_controller.h"

#include "platform.h"
#include "shell/layout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <atomic>
#include <cstdio>

namespace tesmo {

namespace {

std::atomic<bool> g_consoleLog{false};

// Set while this thread is inside the handler: anything Qt logs from there
// goes straight to stderr instead of re-entering (and dead-locking) the service.
thread_local bool t_inHandler = false;

void writeStdout(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

QString ownSourceName() {
    const QString path = QString::fromUtf8(__FILE__);
    return path.mid(std::max(path.lastIndexOf('/'), path.lastIndexOf('\\')) + 1);
}

} // namespace

void setConsoleLog(bool on) {
    g_consoleLog = on;
}

bool consoleLog() {
    return g_consoleLog;
}

int dateKey(const QDate& date) {
    return date.year() * 10000 + date.month() * 100 + date.day();
}

LogService::LogService(Config config) : config_(std::move(config)) {
    if (!config_.clock)
        config_.clock = [] { return QDateTime::currentDateTime(); };
}

LogService::~LogService() = default;

LogService& LogService::instance() {
    // An installed program logs into the user's data folder (the fallback), never into
    // the system's bin folder, even when run as root.
    static LogService service(Config{layout::logsDir(platform::executableDir()), QString(), {}});
    return service;
}

QString LogService::location(const QMessageLogContext& context) {
    if (!context.file || !*context.file)
        return QString();
    const QString path = QString::fromUtf8(context.file);
    const QString name = path.mid(std::max(path.lastIndexOf('/'), path.lastIndexOf('\\')) + 1);
    static const QString own = ownSourceName();
    if (name == own)
        return QString();
    return QStringLiteral("[%1:%2]").arg(name).arg(context.line);
}

QString LogService::formatLine(const QDateTime& now, const QMessageLogContext& context,
                               const QString& message) {
    const QString loc = location(context);
    if (message.startsWith('['))
        return message;
    const QTime t = now.time();
    const QString stamp = QStringLiteral("[%1.%2]")
                              .arg(t.toString(QStringLiteral("hh:mm:ss")))
                              .arg(t.msec(), 3, 10, QLatin1Char('0'));
    // Multi-argument arg() so a "%1" inside the message is left alone.
    return QStringLiteral("%1 %2 %3").arg(stamp, loc, message);
}

void LogService::write(QtMsgType, const QMessageLogContext& context, const QString& message) {
    const QDateTime now = config_.clock();
    std::lock_guard<std::mutex> lock(mutex_);
    const QByteArray line = formatLine(now, context, message).toUtf8() + '\n';
    std::shared_ptr<QFile> out;
    if (!consoleLog())
        out = openDailyLogLocked(dateKey(now.date()));
    if (out) {
        out->write(line);
        out->flush();
    } else {
        writeStdout(line);
    }
}

std::shared_ptr<QFile> LogService::openDailyLog(int key) {
    std::lock_guard<std::mutex> lock(mutex_);
    return openDailyLogLocked(key);
}

void LogService::cleanOldFiles() {
    std::lock_guard<std::mutex> lock(mutex_);
    cleanOldFilesLocked();
}

QString LogService::activeDir() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return activeDir_;
}

// The configured directory when it exists or can be made and takes files;
// otherwise the user's data directory, so an installed program still keeps a log.
QString LogService::usableDirLocked() {
    auto usable = [](const QString& dir) {
        if (dir.isEmpty() || !QDir().mkpath(dir))
            return false;
        return QFileInfo(dir).isWritable();
    };
    if (usable(config_.logsDir))
        return config_.logsDir;
    QString fallback = config_.fallbackDir;
    if (fallback.isEmpty()) {
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (!data.isEmpty())
            fallback = data + QStringLiteral("/logs");
    }
    if (usable(fallback))
        return fallback;
    return QString();
}

std::shared_ptr<QFile> LogService::openDailyLogLocked(int key) {
    if (stream_ && currentKey_ == key)
        return stream_;
    const QString dir = usableDirLocked();
    if (dir.isEmpty()) {
        writeStdout("Failed to create logs directory\n");
        return nullptr;
    }
    const QString path =
        dir + QStringLiteral("/tesmo-man-") + QString::number(key) + QStringLiteral(".log");
    writeStdout("filename: " + QFile::encodeName(path) + '\n');
    auto file = std::make_shared<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append))
        return nullptr;
    stream_ = std::move(file);
    currentKey_ = key;
    activeDir_ = dir;
    cleanOldFilesLocked();
    return stream_;
}

void LogService::writeRawLocked(const QString& line) {
    if (!stream_)
        return;
    stream_->write(line.toUtf8() + '\n');
    stream_->flush();
}

void LogService::cleanOldFilesLocked() {
    writeRawLocked(QStringLiteral("cleanOldFiles()"));
    const QString dirPath = activeDir_.isEmpty() ? config_.logsDir : activeDir_;
    QDir dir(dirPath);
    if (!dir.exists()) {
        writeRawLocked(dirPath + QStringLiteral(" does not exist"));
        return;
    }
    const int cutOff = dateKey(config_.clock().date().addDays(-10));
    // Anchored: only files this service names are ever removed.
    static const QRegularExpression re(QStringLiteral("^tesmo-man-(\\d+)\\.log$"));
    const QStringList names =
        dir.entryList({QStringLiteral("tesmo-man-*.log")}, QDir::Files, QDir::Unsorted);
    for (const QString& name : names) {
        const QRegularExpressionMatch m = re.match(name);
        if (!m.hasMatch())
            continue;
        bool ok = false;
        const qlonglong key = m.captured(1).toLongLong(&ok);
        if (!ok || key >= cutOff)
            continue;
        writeRawLocked(name + QStringLiteral(" - delete"));
        dir.remove(name);
    }
}

void logMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (t_inHandler) {
        const QByteArray bytes = message.toUtf8() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        return;
    }
    t_inHandler = true;
    LogService::instance().write(type, context, message);
    t_inHandler = false;
}

} // namespace tesmo
