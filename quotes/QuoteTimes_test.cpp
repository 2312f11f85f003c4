#include "quotes/QuoteTimes.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/TestSupport.h"

namespace {

TEST(QuoteTimes, AnOlderTimeIsReplacedByThePublishedOneAndLogged) {
    testsupport::CaptureAppender cap;
    QuoteTimes times;
    EXPECT_EQ(times.guard(kNqhq, 93005), 93005u);
    EXPECT_EQ(times.get(kNqhq), 93005);
    EXPECT_EQ(times.guard(kNqhq, 93000), 93005u);
    EXPECT_EQ(times.get(kNqhq), 93005);
    EXPECT_EQ(cap.count("证券行情时间从 93000 设为 93005 ！", "TyQuotaHandler", 300), 1);
    EXPECT_EQ(times.guard(kNqhq, 93005), 93005u);  // equal: no message
    EXPECT_EQ(times.guard(kNqhq, 100000), 100000u);
    EXPECT_EQ(cap.events().size(), 1u);
}

TEST(QuoteTimes, TextFieldsAreReadLikeTheCLibraryAndRewrittenRightAligned) {
    testsupport::CaptureAppender cap;
    QuoteTimes times;
    char first[6] = {'1', '0', '0', '0', '0', '0'};
    times.guardText(kNqxyxx, first, 6);
    EXPECT_EQ(times.get(kNqxyxx), 100000);

    char older[6] = {' ', '9', '3', '0', '0', '0'};  // 93000, older
    times.guardText(kNqxyxx, older, 6);
    EXPECT_EQ(std::string(older, 6), "100000");
    EXPECT_EQ(cap.count("协议申报信息时间从 93000 设为 100000 ！"), 1);

    // NQXX.DBF keeps hhmmsscc in the first 8 characters of a wider field.
    char info[20];
    std::memset(info, ' ', sizeof info);
    std::memcpy(info, "09300000abc", 11);
    times.guardText(kNqxx, info, 8);
    EXPECT_EQ(times.get(kNqxx), 9300000);
    std::memcpy(info, " 9250000", 8);
    times.guardText(kNqxx, info, 8);
    EXPECT_EQ(std::string(info, 11), " 9300000abc");  // only the time changes

    // Each table has its own slot and message.
    EXPECT_EQ(times.get(kNqfgkcjxx), 0);
    EXPECT_EQ(QuoteTimes::SlotOf(kNqfgkcjxx), QuoteTimes::kFgkcjxx);
    EXPECT_EQ(times.atSlot(QuoteTimes::kXx), 9300000);
    EXPECT_EQ(times.atSlot(99), 0);
}

}  // namespace
