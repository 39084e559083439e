// Public: the log service behind the Qt message handler. Every message becomes one
// stamped line in a daily file "logs/tesmo-man-yyyymmdd.log" beside the executable
// (or on standard output with "-c"). One mutex serialises every line.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <mutex>

class QFile;
class QMessageLogContext;

namespace tesmo {

// Process-wide "-c" flag: lines go to standard output instead of the log file.
void setConsoleLog(bool on);
bool consoleLog();

// 2026-12-08 gives 20261208.
int dateKey(const QDate& date);

class LogService {
public:
    using Clock = std::function<QDateTime()>;

    struct Config {
        // Directory of the daily files, normally "logs" beside the executable; empty
        // for an installed program (layout::logsDir).
        QString logsDir;
        // Used when logsDir is empty or cannot be created or written;
        // empty means "the user's data directory + /logs", looked up when needed.
        QString fallbackDir;
        Clock clock;
    };

    explicit LogService(Config config);
    ~LogService();
    LogService(const LogService&) = delete;
    LogService& operator=(const LogService&) = delete;

    // The process-wide service, created on first use.
    static LogService& instance();

    void write(QtMsgType type, const QMessageLogContext& context, const QString& message);
    // The stream for the given day; opens (and cleans up) when the day changed.
    std::shared_ptr<QFile> openDailyLog(int key);
    void cleanOldFiles();

    // The directory the current file lives in; empty before the first file.
    QString activeDir() const;

    // One log line without its line end.
    static QString formatLine(const QDateTime& now, const QMessageLogContext& context,
                              const QString& message);
    // "[file:line]" of the context, or empty.
    static QString location(const QMessageLogContext& context);

private:
    std::shared_ptr<QFile> openDailyLogLocked(int key);
    void cleanOldFilesLocked();
    void writeRawLocked(const QString& line);
    QString usableDirLocked();

    Config config_;
    mutable std::mutex mutex_;
    int currentKey_ = 0;
    std::shared_ptr<QFile> stream_;
    QString activeDir_;
};

// Installed with qInstallMessageHandler: hands every message to LogService.
void logMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

} // namespace tesmo
