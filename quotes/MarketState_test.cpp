// Market state, opening hours, the open-flag file, the one clock correction
// and the version verdicts, driven by state and system information packets.
#include "quotes/MarketState.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/SystemClock.h"
#include "quotes/QuoteTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using quotetest::MakePacket;
using quotetest::PutI16;
using quotetest::PutI32;

Packet::Ptr StatePacket(int16_t state, int16_t p1s = 930, int16_t p1e = 1130, int16_t p2s = 1300,
                        int16_t p2e = 1500, int16_t p3s = 0, int16_t p3e = 0) {
    std::string payload;
    for (int16_t v : {state, p1s, p1e, p2s, p2e, p3s, p3e}) PutI16(payload, v);
    return MakePacket(12, payload);
}

Packet::Ptr SystemInfo(int32_t newest, int32_t minimum, int32_t marketTime) {
    std::string payload;
    for (int32_t v : {newest, minimum, marketTime}) PutI32(payload, v);
    return MakePacket(11, payload);
}

class MarketStateTest : public ::testing::Test {
  protected:
    void SetUp() override { host_.conf.szTYOpenFlagFile = flag_; }

    platform::ScopedFakeClock clock_;
    platform::ScopedClockRecorder clockSetter_;  // never the real clock
    testsupport::TempDir dir_;
    testsupport::CaptureAppender log_;
    quotetest::TestQuoteHost host_;
    QuoteContext context_{host_};
    MarketState market_{context_};
    std::string flag_ = dir_.file("open.flag");
};

TEST_F(MarketStateTest, StateChangesAreLoggedAndTheFlagFileFollowsTheOpenStates) {
    enum class File { None, Empty, Kept };
    struct Step {
        int16_t state;
        bool flagBit;
        File before;  // prepared before the packet (Empty: left by the step before)
        const char* change;
        File after;
    };
    const std::vector<Step> steps = {
        {20, true, File::None, "股市状态由未知转变为允许报盘！", File::None},
        {30, true, File::None, "股市状态由允许报盘转变为上午开市！", File::Empty},
        {30, true, File::Empty, nullptr, File::Empty},  // the same state: nothing
        {35, false, File::Empty, "股市状态由上午开市转变为上午闭市！", File::None},
        {40, true, File::Kept, "股市状态由上午闭市转变为下午开市！", File::Kept},
        {55, false, File::None, "股市状态由下午开市转变为晚上开市！", File::None},
        {60, false, File::Kept, "股市状态由晚上开市转变为成交完毕！", File::None},
        {99, true, File::None, "股市状态由成交完毕转变为未知！", File::None},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.state);
        host_.conf.dwFlag = step.flagBit ? CRcvConf::kFlagOpenFlagFile : 0;
        if (step.before == File::Kept) testsupport::WriteFile(flag_, "kept");
        if (step.before == File::None) platform::RemoveFile(flag_);
        ASSERT_EQ(testsupport::Exists(flag_), step.before != File::None);
        log_.clear();
        market_.onMarketState(*StatePacket(step.state));
        EXPECT_EQ(market_.marketState(), step.state);
        if (step.change != nullptr) {
            EXPECT_EQ(log_.count(step.change, "TyQuotaHandler", velk::LevelInfo), 1) << log_.dump();
        } else {
            EXPECT_EQ(log_.count("股市状态由"), 0);
        }
        EXPECT_EQ(testsupport::Exists(flag_), step.after != File::None);
        if (step.after == File::Empty) {
            EXPECT_EQ(testsupport::ReadFile(flag_), "");
        }
        if (step.after == File::Kept) {
            EXPECT_EQ(testsupport::ReadFile(flag_), "kept");
        }
    }
    EXPECT_EQ(market_.GetMarketStateText(), "未知");
}

TEST_F(MarketStateTest, StateTexts) {
    const std::vector<std::pair<int, const char*>> texts = {
        {0, "未知"},      {10, "尚未开市"}, {20, "允许报盘"}, {30, "上午开市"},
        {35, "上午闭市"}, {40, "下午开市"}, {45, "全天闭市"}, {50, "下午闭市"},
        {55, "晚上开市"}, {60, "成交完毕"}, {99, "未知"},     {-30, "未知"},
    };
    for (const auto& [code, text] : texts) EXPECT_STREQ(MarketState::StateText(code), text);
    for (int code = -1; code <= 100; ++code) {
        EXPECT_EQ(MarketState::IsOpenState(code), code == 30 || code == 40 || code == 55);
    }
}

TEST_F(MarketStateTest, OpeningHoursFollowThePeriods) {
    EXPECT_EQ(market_.openTimeText(), "9:25-11:30 13:00-15:00");
    market_.onMarketState(*StatePacket(10, 925, 1130, 1300, 1500, 0, 0));
    EXPECT_EQ(market_.openTimeText(), "09:25-11:30, 13:00-15:00");
    EXPECT_EQ(
        log_.count("股市开市时间：09:25-11:30, 13:00-15:00", "TyQuotaHandler", velk::LevelInfo), 1);
    // Unchanged hours are not logged again.
    market_.onMarketState(*StatePacket(20, 925, 1130, 1300, 1500, 0, 0));
    EXPECT_EQ(log_.count("股市开市时间"), 1);
    market_.onMarketState(*StatePacket(20, 925, 1130, 1300, 1500, 1900, 2100));
    EXPECT_EQ(market_.openTimeText(), "09:25-11:30, 13:00-15:00, 19:00-21:00");
    EXPECT_EQ(log_.count("股市开市时间：09:25-11:30, 13:00-15:00, 19:00-21:00"), 1);
}

TEST_F(MarketStateTest, FlagFileFailuresAreLogged) {
    host_.conf.dwFlag = CRcvConf::kFlagOpenFlagFile;
    host_.conf.szTYOpenFlagFile = dir_.file("missing-dir/open.flag");
    market_.onMarketState(*StatePacket(30));
    EXPECT_EQ(log_.count("创建开市标志文件 " + host_.conf.szTYOpenFlagFile + " 出错，错误码：" +
                             std::to_string(ENOENT) + " ",
                         "TyQuotaHandler", velk::LevelError),
              1);

    // A flag path that is a directory with something in it cannot be removed.
    host_.conf.szTYOpenFlagFile = dir_.file("flagdir");
    ASSERT_TRUE(platform::MakeDirectory(host_.conf.szTYOpenFlagFile));
    testsupport::WriteFile(host_.conf.szTYOpenFlagFile + "/x", "x");
    market_.onMarketState(*StatePacket(35));
    EXPECT_EQ(log_.count("Remove开市标志文件 " + host_.conf.szTYOpenFlagFile + " 时出错，错误码：",
                         "TyQuotaHandler", velk::LevelError),
              1);
}

TEST_F(MarketStateTest, ShortPacketsAreDropped) {
    market_.onMarketState(*MakePacket(12, std::string(13, '\x1e')));
    market_.onSystemInfo(*MakePacket(11, std::string(11, '\x01')));
    EXPECT_EQ(market_.marketState(), 0);
    EXPECT_EQ(log_.count("股市状态包长度 13 字节，不足 14 字节，丢弃此包！", "TyQuotaHandler",
                         velk::LevelWarn),
              1);
    EXPECT_EQ(log_.count("系统信息包长度 11 字节，不足 12 字节，丢弃此包！", "TyQuotaHandler",
                         velk::LevelWarn),
              1);
    EXPECT_EQ(host_.invalidVersionReports + host_.newVersionReports, 0);
}

TEST_F(MarketStateTest, VersionVerdicts) {
    struct Case {
        int32_t newest, minimum;
        const char* text;  // nullptr: no verdict logged
        int level;
        int invalid, newer;
    };
    const std::vector<Case> cases = {
        {20170301, 20170101,
         "本程序最新版本日期是 20170301，您的程序版本日期是 20170213，建议更新！", velk::LevelInfo,
         0, 1},
        {20170101, 20170101,
         "本程序最新版本日期是 20170101，您的程序版本日期是 20170213，高于主站允许的版本！系统退出"
         "！",
         velk::LevelError, 1, 0},
        {20170301, 20170220,
         "本程序最新版本日期是 20170301，最低可用版本日期是 20170220，您的程序版本日期是 "
         "20170213，必须更新！系统退出！",
         velk::LevelError, 1, 0},
        {20170213, 20170101, nullptr, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.newest);
        quotetest::TestQuoteHost host;
        host.versionDate = 20170213;
        QuoteContext context(host);
        MarketState market(context);
        log_.clear();
        market.onSystemInfo(*SystemInfo(c.newest, c.minimum, 0));
        market.onSystemInfo(*SystemInfo(c.newest, c.minimum, 0));  // the same pair: nothing
        if (c.text != nullptr) {
            EXPECT_EQ(log_.count(c.text, "TyQuotaHandler", c.level), 1) << log_.dump();
        }
        EXPECT_EQ(log_.count("本程序最新版本日期是"), c.text != nullptr ? 1 : 0);
        EXPECT_EQ(host.invalidVersionReports, c.invalid);
        EXPECT_EQ(host.newVersionReports, c.newer);
    }
    // A new pair is judged again.
    quotetest::TestQuoteHost host;
    QuoteContext context(host);
    MarketState market(context);
    market.onSystemInfo(*SystemInfo(20170301, 20170101, 0));
    market.onSystemInfo(*SystemInfo(20170302, 20170101, 0));
    EXPECT_EQ(host.newVersionReports, 2);
}

TEST_F(MarketStateTest, ClockIsSetOnceFromTheFirstTimeCarried) {
    market_.setCorrectClock(true);
    const int64_t t = platform::FromLocal(2017, 2, 13, 9, 31, 7);
    // Without a time the attempt is not used up.
    market_.onSystemInfo(*SystemInfo(20170213, 20170101, 0));
    market_.onSystemInfo(*SystemInfo(20170213, 20170101, -5));
    EXPECT_EQ(clockSetter_.calls(), 0);
    EXPECT_FALSE(market_.clockAttempted());

    market_.onSystemInfo(*SystemInfo(20170213, 20170101, int32_t(t)));
    EXPECT_EQ(clockSetter_.calls(), 1);
    EXPECT_EQ(clockSetter_.lastSeconds(), t);
    EXPECT_EQ(log_.count("把系统时间设置为股市时间：2017-02-13 09:31:07 。", "TyQuotaHandler",
                         velk::LevelInfo),
              1);
    market_.onSystemInfo(*SystemInfo(20170213, 20170101, int32_t(t + 60)));
    EXPECT_EQ(clockSetter_.calls(), 1);
    EXPECT_EQ(log_.count("把系统时间设置为股市时间"), 1);
}

TEST_F(MarketStateTest, ClockFailuresAreReportedAndNotRetried) {
    const int64_t t = platform::FromLocal(2017, 2, 13, 9, 31, 7);
    struct Case {
        platform::SetClockResult answer;
        const char* message;
    };
    for (const Case& c :
         {Case{platform::SetClockResult::Refused, "不能设置系统时间，请检查您的权限！"},
          Case{platform::SetClockResult::BadTime, "校时失败，请检查！"}}) {
        quotetest::TestQuoteHost host;
        QuoteContext context(host);
        MarketState market(context);
        market.setCorrectClock(true);
        clockSetter_.answer(c.answer, EPERM);
        log_.clear();
        const int before = clockSetter_.calls();
        market.onSystemInfo(*SystemInfo(20170213, 20170101, int32_t(t)));
        market.onSystemInfo(*SystemInfo(20170213, 20170101, int32_t(t)));
        EXPECT_EQ(log_.count(c.message, "TyQuotaHandler", velk::LevelError), 1);
        EXPECT_EQ(clockSetter_.calls(), before + 1);
        EXPECT_TRUE(market.clockAttempted());
    }
    // Not configured: never.
    const int before = clockSetter_.calls();
    market_.onSystemInfo(*SystemInfo(20170213, 20170101, int32_t(t)));
    EXPECT_EQ(clockSetter_.calls(), before);
    EXPECT_FALSE(market_.clockAttempted());
}

}  // namespace
