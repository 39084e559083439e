#include "lumo/clock.h"
#include "lumo/logger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

using lumo::Logger;
using lumo::SourceLocation;

// 2026-03-04 05:06:07.089 local time, whatever the zone of the machine.
std::int64_t fixedLocalMs() {
    std::tm tm{};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 2;
    tm.tm_mday = 4;
    tm.tm_hour = 5;
    tm.tm_min = 6;
    tm.tm_sec = 7;
    tm.tm_isdst = -1;
    return std::int64_t(std::mktime(&tm)) * 1000 + 89;
}

TEST(LoggerPattern, EachElement) {
    const auto where = SourceLocation::make("src/dir\\sub/file.cpp", 301);
    const std::int64_t now = fixedLocalMs();
    const struct {
        const char* pattern;
        int level;
        const char* expected;
    } cases[] = {
        {"%y", Logger::Info, "2026"},
        {"%C", Logger::Info, "26"},
        {"%m", Logger::Info, "03"},
        {"%d", Logger::Info, "04"},
        {"%H", Logger::Info, "05"},
        {"%M", Logger::Info, "06"},
        {"%S", Logger::Info, "07"},
        {"%e", Logger::Info, "089"},
        {"%l", Logger::Debug, "debug"},
        {"%l", Logger::Info, "info"},
        {"%l", Logger::Warn, "warn"},
        {"%l", Logger::Error, "error"},
        {"%l", 9, "unknown"},
        {"%t", Logger::Info, "2a"},
        {"%s", Logger::Info, "file.cpp"},
        {"%g", Logger::Info, "src/dir\\sub/file.cpp"},
        {"%#", Logger::Info, "301"},
        {"%n", Logger::Info, "cms"},
        {"%v", Logger::Info, "hello"},
        {"%%|%q|x", Logger::Info, "%|q|x"},
        {"%q%", Logger::Info, "q%"},
    };
    for (const auto& c : cases) {
        const std::string line =
            Logger::expand(c.pattern, c.level, where, "hello", now, 0x2a, "cms");
        EXPECT_EQ(line, c.expected) << "pattern " << c.pattern << " level " << c.level;
    }
    std::string letters;
    for (int level : {0, 1, 2, 3, 7})
        letters += Logger::expand("%L", level, where, "", now, 0, "");
    EXPECT_EQ(letters, "DIWEU");
}

TEST(LoggerPattern, DefaultPatternAndMissingSource) {
    const std::int64_t now = fixedLocalMs();
    const auto where = SourceLocation::make("C:\\work\\src\\pelzo.cpp", 301);
    EXPECT_EQ(Logger::expand("", Logger::Error, where, "boom", now, 0xbeef, ""),
              "[2026-03-04 05:06:07.089] [error] [beef] [pelzo.cpp:301] boom");
    EXPECT_EQ(Logger::expand("%s %g", Logger::Info, SourceLocation{}, "", now, 0, ""),
              "no_src no_src");
}

class LoggerOutput : public ::testing::Test {
protected:
    void SetUp() override {
        logger.setSink([this](const std::string& line) { lines.push_back(line); });
    }
    Logger logger{"t"};
    std::vector<std::string> lines;
};

TEST_F(LoggerOutput, LevelsBelowTheThresholdAreDropped) {
    logger.log(Logger::Debug, LUMO_HERE, "dropped %d", 1);
    logger.log(Logger::Info, LUMO_HERE, "kept %d", 2);
    logger.setLevel(Logger::Error);
    logger.log(Logger::Warn, LUMO_HERE, "dropped");
    logger.log(Logger::Error, LUMO_HERE, "kept %s", "too");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("[info]"), std::string::npos);
    EXPECT_NE(lines[0].find("] kept 2"), std::string::npos);
    EXPECT_NE(lines[1].find("[error]"), std::string::npos);
    EXPECT_NE(lines[1].find("[logger_test.cpp:"), std::string::npos);
}

TEST_F(LoggerOutput, LongMessageIsCutTo510Bytes) {
    logger.setPattern("%v");
    const std::string text(600, 'x');
    logger.log(Logger::Info, LUMO_HERE, "%s", text.c_str());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], std::string(510, 'x'));
}

TEST(LoggerDefault, DebugIsSilentAndInfoReachesStdout) {
    auto& logger = Logger::defaultLogger();
    EXPECT_EQ(logger.level(), Logger::Info);
    EXPECT_EQ(logger.name(), "");
    testing::internal::CaptureStdout();
    LUMO_LOG_DEBUG("not shown");
    LUMO_LOG_INFO("shown %d", 3);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("not shown"), std::string::npos);
    EXPECT_NE(out.find("[info]"), std::string::npos);
    EXPECT_NE(out.find("] shown 3\n"), std::string::npos);
}

// Two threads writing through the standard-output path must produce whole lines.
TEST(LoggerThreads, LinesNeverInterleave) {
    Logger logger("mt");
    logger.setPattern("%n %v");
    std::vector<std::string> lines;
    logger.setSink([&](const std::string& line) { lines.push_back(line); });
    const std::string a(200, 'a');
    const std::string b(200, 'b');
    auto writer = [&](const std::string& text) {
        for (int i = 0; i < 500; ++i)
            logger.log(Logger::Info, LUMO_HERE, "%s", text.c_str());
    };
    std::thread t1(writer, a);
    std::thread t2(writer, b);
    t1.join();
    t2.join();
    ASSERT_EQ(lines.size(), 1000u);
    for (const auto& line : lines)
        ASSERT_TRUE(line == "mt " + a || line == "mt " + b) << line;
}

TEST(LoggerThreads, StdoutLinesNeverInterleave) {
    Logger logger("mt");
    logger.setPattern("%v");
    const std::string a(300, 'a');
    const std::string b(300, 'b');
    testing::internal::CaptureStdout();
    auto writer = [&](const std::string& text) {
        for (int i = 0; i < 300; ++i)
            logger.log(Logger::Info, LUMO_HERE, "%s", text.c_str());
    };
    std::thread t1(writer, a);
    std::thread t2(writer, b);
    t1.join();
    t2.join();
    const std::string out = testing::internal::GetCapturedStdout();
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < out.size();) {
        const std::size_t end = out.find('\n', pos);
        ASSERT_NE(end, std::string::npos);
        const std::string line = out.substr(pos, end - pos);
        ASSERT_TRUE(line == a || line == b);
        ++count;
        pos = end + 1;
    }
    EXPECT_EQ(count, 600u);
}

} // namespace
