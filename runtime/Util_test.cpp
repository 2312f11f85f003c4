#include "runtime/Util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/Clock.h"
#include "platform/File.h"
#include "tests/support/TestSupport.h"

namespace velk::util {
namespace {

using testsupport::TempDir;

TEST(Util, TextAndSwitches) {
    struct {
        const char *a, *b;
        int same;
    } texts[] = {{"fileLogLevel", "fileloglevel", 0},
                 {"fileLogLevel", "fileLogLevel1", -1},
                 {"", "", 0},
                 {"abc", "abd", -1}};
    for (auto& c : texts) EXPECT_EQ(SameTextNoCase(c.a, c.b), c.same) << c.a << " / " << c.b;

    struct {
        const char* text;
        bool on;
    } switches[] = {{"1", true},     {"ON", true}, {"On", true}, {"yes", true}, {"YES", true},
                    {"TRUE", false}, {"2", false}, {"", false},  {"0", false},  {"onn", false}};
    for (auto& c : switches) EXPECT_EQ(ParseSwitch(c.text), c.on) << "'" << c.text << "'";
}

TEST(Util, TrimPath) {
    struct {
        const char *in, *out;
    } cases[] = {{"  /data/nq \\\\ ", "/data/nq"},
                 {"/data/nq/", "/data/nq"},
                 {"\t/x\r\n", "/x"},
                 {"rel", "rel"},
                 {"", ""}};
    for (auto& c : cases) EXPECT_EQ(TrimPath(c.in), c.out) << "'" << c.in << "'";
}

TEST(Util, EnsureDirCreatesOneLevelOnly) {
    TempDir dir;
    EXPECT_EQ(EnsureDir(dir.file("Log") + "\\\\ "), 0);
    EXPECT_TRUE(platform::IsDirectory(dir.file("Log")));
    EXPECT_EQ(EnsureDir(dir.file("Log")), 0);   // already there
    EXPECT_EQ(EnsureDir(dir.file("a/b")), -1);  // parents are never created
}

TEST(Util, FileHelpers) {
    TempDir dir;
    std::string f = dir.file("NQHQ0213.Log");
    EXPECT_FALSE(FileExists(f));
    EXPECT_EQ(EnsureFile(f), 0);
    EXPECT_TRUE(FileExists(f));
    EXPECT_EQ(testsupport::ReadFile(f), "");
    testsupport::WriteFile(f, "kept");
    EXPECT_EQ(EnsureFile(f), 0);  // an existing file is left alone
    EXPECT_EQ(testsupport::ReadFile(f), "kept");
    EXPECT_EQ(EnsureFile(dir.file("no/dir/x")), -1);

    std::string big(40000, 'q');
    testsupport::WriteFile(dir.file("src"), big);
    ASSERT_TRUE(platform::SetFileTimes(dir.file("src"), 1400000000, 1500000000));
    ASSERT_TRUE(CopyFileKeepTimes(dir.file("src"), dir.file("dst")));
    EXPECT_EQ(testsupport::ReadFile(dir.file("dst")), big);
    platform::FileStatus st;
    ASSERT_TRUE(platform::StatFile(dir.file("dst"), &st));
    EXPECT_EQ(st.modified, 1500000000);
    EXPECT_FALSE(CopyFileKeepTimes(dir.file("missing"), dir.file("dst2")));
}

TEST(Util, ElapsedSinceAZeroOrFutureTickStartsAtNow) {
    platform::ScopedFakeClock clock;
    clock.setTick(5000);
    uint32_t tick = 0;
    EXPECT_EQ(ElapsedSince(tick), 0u);
    EXPECT_EQ(tick, 5000u);
    clock.advance(250);
    EXPECT_EQ(ElapsedSince(tick), 250u);
    uint32_t ahead = 9000;
    EXPECT_EQ(ElapsedSince(ahead), 0u);
    EXPECT_EQ(ahead, 5250u);
    clock.setTick(0xFFFFFFF0u);
    uint32_t before = 0xFFFFFF00u;
    clock.advance(0x20);  // wrapped
    EXPECT_EQ(ElapsedSince(before), 0x110u);
}

TEST(Util, DatesAndTimes) {
    platform::ScopedFakeClock clock;
    clock.setWall(2017, 3, 9, 10, 0, 0);
    EXPECT_EQ(TodayNumber(), 20170309);
    EXPECT_EQ(FormatHms(93005), "09:30:05");
    EXPECT_EQ(FormatHms(150000), "15:00:00");
    EXPECT_EQ(FormatHmsCs(9300512), "09:30:05.12");
    EXPECT_EQ(ErrorText(0), "");
    EXPECT_FALSE(ErrorText(2).empty());
    EXPECT_EQ(JoinPath("/a/", "b"), "/a/b");
    EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
}

TEST(Util, DeleteOldFilesKeepsYoungFilesAndStopsAtAnUndeletableOne) {
    TempDir dir;
    platform::ScopedFakeClock clock;
    clock.setWall(2017, 3, 20, 12, 0, 0);
    int64_t now = platform::NowMillis() / 1000;
    auto make = [&](const std::string& name, int64_t ageSeconds) {
        testsupport::WriteFile(dir.file(name), "x");
        ASSERT_TRUE(platform::SetFileTimes(dir.file(name), now - ageSeconds, now - ageSeconds));
    };
    make("a_young.txt", 7 * 86400 + 23 * 3600);  // 7 days 23 hours: stays
    make("b_old.txt", 8 * 86400);                // deleted
    make("c_old.txt", 30 * 86400);               // cannot be deleted
    make("d_old.txt", 9 * 86400);                // left for the next start
    ASSERT_TRUE(platform::MakeDirectory(dir.file("sub")));

    testsupport::CaptureAppender cap;
    platform::faults::ScopedFileFaults faults;
    faults.add({platform::FileOp::Remove, 0, 1, platform::FileCause::AccessDenied, 0, "c_old"});
    EXPECT_EQ(DeleteOldFiles(dir.path(), 7), -1);
    EXPECT_TRUE(testsupport::Exists(dir.file("a_young.txt")));
    EXPECT_FALSE(testsupport::Exists(dir.file("b_old.txt")));
    EXPECT_TRUE(testsupport::Exists(dir.file("c_old.txt")));
    EXPECT_TRUE(testsupport::Exists(dir.file("d_old.txt")));
    EXPECT_TRUE(testsupport::Exists(dir.file("sub")));
    EXPECT_EQ(cap.count("文件 " + dir.file("b_old.txt") + " 已删除！", "Util", 200), 1);
    EXPECT_EQ(cap.count("删除文件 " + dir.file("c_old.txt") + " 失败！", "Util", 500), 1);

    EXPECT_EQ(DeleteOldFiles(dir.path(), 7), 0);  // the next start goes on
    EXPECT_FALSE(testsupport::Exists(dir.file("c_old.txt")));
    EXPECT_FALSE(testsupport::Exists(dir.file("d_old.txt")));
}

}  // namespace
}  // namespace velk::util
