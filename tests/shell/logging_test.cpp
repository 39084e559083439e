#include "shell/service_controller.h"

#include <QDir>
#include <QFile>
#include <QMessageLogContext>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "test_support.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using tesmo::LogService;

namespace {

QDateTime at(int y, int mo, int d, int h, int mi, int s, int ms) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms));
}

QStringList readLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void touchFile(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

struct LineCase {
    const char* file;
    int line;
    const char* message;
    const char* expected;
};

} // namespace

TEST(LogLine, FormatTable) {
    const QDateTime now = at(2026, 12, 8, 9, 5, 3, 7);
    const LineCase cases[] = {
        {nullptr, 0, "hello", "[09:05:03.007]  hello"},
        {nullptr, 0, "[x] hello", "[x] hello"},
        {"/src/app/shell/main.cpp", 42, "hello", "[09:05:03.007] [main.cpp:42] hello"},
        {"C:\\src\\dlg.cpp", 7, "hi", "[09:05:03.007] [dlg.cpp:7] hi"},
        {"a\\b/c.cpp", 1, "x", "[09:05:03.007] [c.cpp:1] x"},
        {"a/b\\d.cpp", 2, "x", "[09:05:03.007] [d.cpp:2] x"},
        {"/x/service_controller.cpp", 9, "own", "[09:05:03.007]  own"},
        {"/x/main.cpp", 3, "[tag] raw", "[tag] raw"},
        {nullptr, 0, "50%1 %2", "[09:05:03.007]  50%1 %2"},
        {nullptr, 0, "", "[09:05:03.007]  "},
        {nullptr, 0, "正在运行", "[09:05:03.007]  正在运行"},
    };
    for (const LineCase& c : cases) {
        const QMessageLogContext context(c.file, c.line, nullptr, "default");
        EXPECT_EQ(LogService::formatLine(now, context, QString::fromUtf8(c.message)),
                  QString::fromUtf8(c.expected))
            << (c.file ? c.file : "(no file)") << " " << c.message;
    }
    const QMessageLogContext none;
    EXPECT_EQ(LogService::formatLine(at(2026, 1, 1, 0, 0, 0, 0), none, "m"), "[00:00:00.000]  m");
    EXPECT_EQ(LogService::formatLine(at(2026, 1, 1, 23, 59, 59, 999), none, "m"),
              "[23:59:59.999]  m");
}

TEST(LogLine, DateKey) {
    EXPECT_EQ(tesmo::dateKey(QDate(2026, 12, 8)), 20261208);
    EXPECT_EQ(tesmo::dateKey(QDate(2027, 1, 1)), 20270101);
}

class DailyLog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        logs = tmp.path() + "/logs";
        service = std::make_unique<LogService>(
            LogService::Config{logs, tmp.path() + "/fallback", [this] { return now; }});
    }
    void log(const QString& message) { service->write(QtInfoMsg, QMessageLogContext(), message); }
    QString file(int key) const { return logs + "/tesmo-man-" + QString::number(key) + ".log"; }

    QTemporaryDir tmp;
    QString logs;
    QDateTime now = at(2026, 12, 8, 9, 0, 0, 0);
    std::unique_ptr<LogService> service;
};

TEST_F(DailyLog, FirstMessageCreatesTheDayFileAndRemovesFilesOlderThanTenDays) {
    ASSERT_TRUE(QDir().mkpath(logs));
    ASSERT_TRUE(QDir().mkpath(logs + "/tesmo-man-20200101.log")); // a directory: kept
    const QStringList old = {"tesmo-man-20261127.log", "tesmo-man-20251208.log", "tesmo-man-1.log"};
    const QStringList kept = {"tesmo-man-20261128.log",
                              "tesmo-man-20261207.log",
                              "other.log",
                              "tesmo-man-abc.log",
                              "tesmo-man-20261101-old.log",
                              "tesmo-man-99999999999999999999999.log"};
    for (const QString& name : old + kept)
        touchFile(logs + "/" + name);

    log("hello");

    for (const QString& name : old)
        EXPECT_FALSE(QFile::exists(logs + "/" + name)) << name.toStdString();
    for (const QString& name : kept)
        EXPECT_TRUE(QFile::exists(logs + "/" + name)) << name.toStdString();
    EXPECT_TRUE(QFileInfo(logs + "/tesmo-man-20200101.log").isDir());

    const QStringList lines = readLines(file(20261208));
    ASSERT_EQ(lines.size(), 5) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.first(), "cleanOldFiles()");
    QStringList deleted = lines.mid(1, 3);
    deleted.sort();
    EXPECT_EQ(deleted, QStringList({"tesmo-man-1.log - delete", "tesmo-man-20251208.log - delete",
                                    "tesmo-man-20261127.log - delete"}));
    EXPECT_EQ(lines.last(), "[09:00:00.000]  hello");
    EXPECT_EQ(service->activeDir(), logs);
}

TEST_F(DailyLog, SameDayAppendsAndMidnightSwitchesFileAndCleansAgain) {
    ASSERT_TRUE(QDir().mkpath(logs));
    touchFile(logs + "/tesmo-man-20261128.log");
    log("one");
    now = at(2026, 12, 8, 23, 59, 59, 999);
    log("two");
    EXPECT_TRUE(QFile::exists(logs + "/tesmo-man-20261128.log"));
    EXPECT_EQ(readLines(file(20261208)),
              QStringList({"cleanOldFiles()", "[09:00:00.000]  one", "[23:59:59.999]  two"}));

    now = at(2026, 12, 9, 0, 0, 0, 1);
    log("three");
    EXPECT_FALSE(QFile::exists(logs + "/tesmo-man-20261128.log"));
    EXPECT_EQ(readLines(file(20261208)).size(), 3);
    const QStringList next = readLines(file(20261209));
    EXPECT_EQ(next, QStringList({"cleanOldFiles()", "tesmo-man-20261128.log - delete",
                                 "[00:00:00.001]  three"}));
}

TEST_F(DailyLog, AppendsToAnExistingDayFile) {
    ASSERT_TRUE(QDir().mkpath(logs));
    {
        QFile f(file(20261208));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("earlier run\n");
    }
    log("later");
    const QStringList lines = readLines(file(20261208));
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), "earlier run");
    EXPECT_EQ(lines.last(), "[09:00:00.000]  later");
}

TEST_F(DailyLog, ConsoleLogCreatesNoDirectory) {
    tesmo::setConsoleLog(true);
    log("to stdout");
    tesmo::setConsoleLog(false);
    EXPECT_FALSE(QFileInfo::exists(logs));
    EXPECT_TRUE(service->activeDir().isEmpty());
}

TEST_F(DailyLog, UnwritableDirectoryFallsBackToDataDirectory) {
    // A regular file where the parent directory should be: no one can create it.
    touchFile(tmp.path() + "/blocked");
    LogService blocked(LogService::Config{tmp.path() + "/blocked/logs", tmp.path() + "/fallback",
                                          [this] { return now; }});
    blocked.write(QtWarningMsg, QMessageLogContext(), "kept");
    EXPECT_EQ(blocked.activeDir(), tmp.path() + "/fallback");
    EXPECT_EQ(readLines(tmp.path() + "/fallback/tesmo-man-20261208.log").last(),
              "[09:00:00.000]  kept");
}

TEST_F(DailyLog, NoUsableDirectoryGivesNoStream) {
    touchFile(tmp.path() + "/blocked");
    LogService blocked(LogService::Config{
        tmp.path() + "/blocked/logs", tmp.path() + "/blocked/fallback", [this] { return now; }});
    EXPECT_EQ(blocked.openDailyLog(20261208), nullptr);
    blocked.write(QtInfoMsg, QMessageLogContext(), "goes to stdout");
    EXPECT_TRUE(blocked.activeDir().isEmpty());
}

TEST_F(DailyLog, LinesFromManyThreadsNeverInterleave) {
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < kLines; ++i)
                log(QStringLiteral("thread %1 line %2 ").arg(t).arg(i) + QString(40, 'x'));
        });
    for (std::thread& th : threads)
        th.join();
    const QStringList lines = readLines(file(20261208));
    ASSERT_EQ(lines.size(), kThreads * kLines + 1);
    EXPECT_EQ(lines.first(), "cleanOldFiles()");
    const QRegularExpression shape(
        QStringLiteral("^\\[09:00:00\\.000\\]  thread \\d line \\d+ x{40}$"));
    for (int i = 1; i < lines.size(); ++i)
        EXPECT_TRUE(shape.match(lines[i]).hasMatch()) << lines[i].toStdString();
}
