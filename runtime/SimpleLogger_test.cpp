#include "runtime/SimpleLogger.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "tests/support/TestSupport.h"

namespace velk {
namespace {

using testsupport::CaptureAppender;
using testsupport::ReadFile;
using testsupport::TempDir;

TEST(FileAppender, WritesTheExactLineInGbkWithCrLf) {
    TempDir dir;
    platform::ScopedFakeClock clock;
    clock.setWall(2017, 2, 13, 9, 30, 0, 125);
    std::string path = dir.file("NQHQ0213.Log");
    {
        SimpleLogger::FileAppender file(path);
        SimpleLogger::addAppender(&file);
        log("RcvController", 300, "成功登陆行情服务器");
        SimpleLogger::removeAppender(&file);
    }
    EXPECT_EQ(ReadFile(path),
              "2017-02-13 09:30:00.125 RcvController:"
              "\xB3\xC9\xB9\xA6\xB5\xC7\xC2\xBD\xD0\xD0\xC7\xE9\xB7\xFE\xCE\xF1\xC6\xF7\r\n");
}

TEST(FileAppender, FiltersByLevelAndWritesLineFeedsInsideTextAsCrLf) {
    TempDir dir;
    std::string path = dir.file("x.Log");
    SimpleLogger::FileAppender file(path);
    file.setLevel(200);
    SimpleLogger::addAppender(&file);
    log("Dbf", 199, "below");
    log("Dbf", 250, "between");
    log("RcvController", 300, "系统退出！\n\n\n");
    SimpleLogger::removeAppender(&file);
    std::string text = ReadFile(path);
    EXPECT_EQ(text.find("below"), std::string::npos);
    EXPECT_NE(text.find("Dbf:between\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n\r\n\r\n\r\n"), std::string::npos);
    EXPECT_EQ(text.find("\n\n"), std::string::npos);
}

TEST(FileAppender, AnUnopenableFileDropsEvents) {
    SimpleLogger::FileAppender file("/nonexistent-dir/x.Log");
    EXPECT_FALSE(file.isOpen());
    SimpleLogger::addAppender(&file);
    log("Tavrel", 500, "nothing happens");
    SimpleLogger::removeAppender(&file);
}

TEST(Logger, LongMessagesAreWrittenWhole) {
    TempDir dir;
    std::string path = dir.file("long.Log");
    SimpleLogger::FileAppender file(path);
    SimpleLogger::addAppender(&file);
    std::string big(20000, 'x');
    log("Tavrel", 300, "%s|end", big.c_str());
    SimpleLogger::removeAppender(&file);
    std::string text = ReadFile(path);
    EXPECT_NE(text.find(big + "|end\r\n"), std::string::npos);
}

TEST(Logger, SixtyFourBitCountersUseI64d) {
    CaptureAppender cap;
    SimpleLogger::log("RcvController", 300, "共收到 %I64d 个包，合计 %I64d 字节。%d %s %I64u",
                      int64_t(5000000000LL), int64_t(-7), 42, "ok",
                      uint64_t(18446744073709551615ULL));
    ASSERT_EQ(cap.events().size(), 1u);
    EXPECT_EQ(cap.events()[0].text,
              "共收到 5000000000 个包，合计 -7 字节。42 ok 18446744073709551615");
    EXPECT_EQ(cap.events()[0].module, "RcvController");
}

TEST(Logger, LevelLabels) {
    EXPECT_STREQ(LevelLabel(500), "Error");
    EXPECT_STREQ(LevelLabel(400), "Warn");
    EXPECT_STREQ(LevelLabel(300), "Info");
    EXPECT_STREQ(LevelLabel(200), "Detail");
    EXPECT_STREQ(LevelLabel(250), "Debug");
    EXPECT_STREQ(LevelLabel(100), "Debug");
}

TEST(Logger, LinesFromManyThreadsNeverInterleave) {
    TempDir dir;
    std::string path = dir.file("threads.Log");
    SimpleLogger::FileAppender file(path);
    SimpleLogger::addAppender(&file);
    std::vector<std::thread> threads;
    const int kThreads = 4, kLines = 300;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            std::string body(200 + t * 50, char('a' + t));
            for (int i = 0; i < kLines; ++i) log("T", 300, "%d:%s", t, body.c_str());
        });
    }
    for (auto& th : threads) th.join();
    SimpleLogger::removeAppender(&file);

    std::string text = ReadFile(path);
    int lines = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        std::string line = text.substr(pos, end - pos);
        size_t colon = line.find("T:");
        ASSERT_NE(colon, std::string::npos);
        int t = line[colon + 2] - '0';
        std::string expected =
            std::string(1, char('0' + t)) + ":" + std::string(200 + t * 50, char('a' + t));
        EXPECT_EQ(line.substr(colon + 2), expected);
        ++lines;
        pos = end + 2;
    }
    EXPECT_EQ(lines, kThreads * kLines);
}

TEST(ConsoleAppender, ShowsTheLevelLabelInUtf8) {
    platform::ScopedFakeClock clock;
    clock.setWall(2017, 2, 13, 9, 30, 0, 5);
    char buf[256] = {};
    FILE* mem = fmemopen(buf, sizeof buf, "w");
    SimpleLogger::ConsoleAppender console(mem);
    SimpleLogger::addAppender(&console);
    log("Tavrel", 400, "信道切换");
    log("Tavrel", 200, "hidden");
    SimpleLogger::removeAppender(&console);
    fclose(mem);
    EXPECT_STREQ(buf, "09:30:00.005 Warn   Tavrel: 信道切换\n");
}

}  // namespace
}  // namespace velk
