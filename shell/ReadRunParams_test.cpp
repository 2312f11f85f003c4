#include "shell/ReadRunParams.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "runtime/RunParams.h"
#include "tests/support/TestSupport.h"

namespace {

using velk::RunParams;

class NullAppender : public velk::SimpleLogger::ILogAppender {
  public:
    void append(const velk::LogEvent&) override {}
};

class ReadRunParamsTest : public ::testing::Test {
  protected:
    void SetUp() override { RunParams::instance().clear(); }
    void TearDown() override { RunParams::instance().clear(); }
    std::string path() const { return dir.file("runParams.Cfg"); }
    void write(const std::string& text) { testsupport::WriteFile(path(), text); }

    testsupport::TempDir dir;
    testsupport::CaptureAppender log;
    RunParams& p = RunParams::instance();
};

TEST_F(ReadRunParamsTest, MissingFileRestoresTheDefaultsButLeavesTheRoundSwitch) {
    p.DebugNewRoundSw = 1;
    p.savePerRound = 1;
    p.testPerformance = 1;
    NullAppender file;
    file.setLevel(500);
    ReadRunParams(path(), &file);
    EXPECT_EQ(200, p.fileLogLevel.load());
    EXPECT_EQ(300, p.viewLogLevel.load());
    EXPECT_EQ(1, p.checkTraffic.load());
    EXPECT_EQ(0, p.savePerRound.load());
    EXPECT_EQ(0, p.testPerformance.load());
    EXPECT_EQ(1, p.DebugNewRoundSw.load());
    // The log file's level follows only a file that was read.
    EXPECT_EQ(500, file.level());
    EXPECT_EQ(0u, log.events().size());
}

TEST_F(ReadRunParamsTest, FilesAreReadLineByLineWithTheirSeparatorsAndCases) {
    struct Case {
        const char* text;
        int16_t fileLogLevel;
        int16_t viewLogLevel;
        int16_t checkTraffic;
        int16_t savePerRound;
    };
    const Case cases[] = {
        {"checkTraffic = on\n", 0, 0, 1, 0},
        {"", 0, 0, 0, 0},
        {"# log levels\n\nfileLogLevel = 200\nviewLogLevel = 300\ncheckTraffic = YES\n", 200, 300,
         1, 0},
        {"[CHECKTRAFFIC], yes\n\tsaveperround=1", 0, 0, 1, 1},
        {"checkTraffic=YES\r\nfileLogLevel=400\r\n", 400, 0, 1, 0},
        {"checkTraffic=2\nsavePerRound=true\n", 0, 0, 0, 0},
        {"fileLogLevel=99999\nviewLogLevel=-40000\n", 32767, -32768, 0, 0},
        {"fileLogLevel=350abc\nviewLogLevel=abc\n", 350, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        p.clear();
        write(c.text);
        ReadRunParams(path());
        EXPECT_EQ(c.fileLogLevel, p.fileLogLevel.load());
        EXPECT_EQ(c.viewLogLevel, p.viewLogLevel.load());
        EXPECT_EQ(c.checkTraffic, p.checkTraffic.load());
        EXPECT_EQ(c.savePerRound, p.savePerRound.load());
    }
    EXPECT_EQ(0u, log.events().size()) << log.dump();
}

TEST_F(ReadRunParamsTest, TheFirstBadLineStopsTheReadAndKeepsTheLogFileLevel) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"viewLogLevel=250\nfileLogLevel\nsavePerRound=1\n",
         "invalid configure(line 2): no value specified!"},
        {"viewLogLevel=250\nfileLogLevel =\nsavePerRound=1\n",
         "invalid configure(line 2): no value specified!"},
        {"viewLogLevel=250\n#\nbogusKey=1\nsavePerRound=1\n",
         "invalid vonfig(line 3): unknown parameter name 'bogusKey'!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        p.clear();
        log.clear();
        write(c.text);
        NullAppender file;
        file.setLevel(123);
        ReadRunParams(path(), &file);
        EXPECT_EQ(1, log.count(c.message, "Tavrel", 300)) << log.dump();
        EXPECT_EQ(250, p.viewLogLevel.load()) << "lines before the error stay set";
        EXPECT_EQ(0, p.savePerRound.load()) << "lines after the error are not read";
        EXPECT_EQ(123, file.level());
    }
}

TEST_F(ReadRunParamsTest, LongLinesAreReadInPiecesAndKeysAreCutAt79Characters) {
    // A comment line longer than 199 characters: its rest is read as a line
    // of its own, and that is no comment.
    write("#" + std::string(198, 'x') + "savePerRound=1\ncheckTraffic=1\n");
    ReadRunParams(path());
    EXPECT_EQ(1, p.savePerRound.load());
    EXPECT_EQ(1, p.checkTraffic.load());
    EXPECT_EQ(0u, log.events().size()) << log.dump();

    p.clear();
    write("checkTraffic=1\n" + std::string(100, 'k') + "=1\nsavePerRound=1\n");
    ReadRunParams(path());
    EXPECT_EQ(1, log.count("invalid vonfig(line 2): unknown parameter name '" +
                           std::string(79, 'k') + "'!"))
        << log.dump();
    EXPECT_EQ(1, p.checkTraffic.load());
    EXPECT_EQ(0, p.savePerRound.load());
}

TEST_F(ReadRunParamsTest, CleanReadSetsTheLogFileLevelAndAFileInTheWayIsReported) {
    write("fileLogLevel=400\n");
    NullAppender file;
    ReadRunParams(path(), &file);
    EXPECT_EQ(400, file.level());

    // Deleted while running: the defaults come back, the file's level stays.
    testsupport::TempDir other;
    ReadRunParams(other.file("runParams.Cfg"), &file);
    EXPECT_EQ(200, p.fileLogLevel.load());
    EXPECT_EQ(400, file.level());

    // A directory where the file should be cannot be read.
    const std::string blocked = other.file("blocked.Cfg");
    ASSERT_EQ(0, mkdir(blocked.c_str(), 0755));
    p.viewLogLevel = 77;
    ReadRunParams(blocked, &file);
    EXPECT_EQ(1, log.count("unable to open config file('" + blocked + "')!", "Tavrel", 300))
        << log.dump();
    EXPECT_EQ(77, p.viewLogLevel.load());
}

}  // namespace
