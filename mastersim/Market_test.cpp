#include "mastersim/Market.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "platform/Text.h"

namespace mastersim {
namespace {

TEST(MarketTest, SecuritiesHaveUniqueCodesAndShortGbkNames) {
    for (int n : {1, 500, 20000}) {
        Market m(n, 3, 20170213);
        ASSERT_EQ(m.size(), n);
        std::set<std::string> codes;
        for (int i = 0; i < n; ++i) {
            const Security& s = m.security(i);
            ASSERT_EQ(s.code.size(), 6u);
            ASSERT_EQ(s.code.find_first_not_of("0123456789"), std::string::npos);
            ASSERT_NE(s.code, "000000");
            codes.insert(s.code);
            ASSERT_GE(s.name.size(), 4u);
            ASSERT_LE(s.name.size(), 8u);
            // Every name is Chinese text that survives the round trip.
            ASSERT_EQ(platform::Utf8ToGbk(platform::GbkToUtf8(s.name)), s.name);
            ASSERT_EQ(platform::GbkToUtf8(s.name).find("\xEF\xBF\xBD"), std::string::npos);
            ASSERT_GT(s.prevClose, 0);
            ASSERT_LT(s.lowerLimit(), s.upperLimit());
        }
        EXPECT_EQ(codes.size(), size_t(n));
        EXPECT_TRUE(std::is_sorted(codes.begin(), codes.end()));
    }
}

TEST(MarketTest, TheSameSeedGivesTheSameMarket) {
    Market a(200, 11, 20170213), b(200, 11, 20170213), c(200, 12, 20170213);
    for (Market* m : {&a, &b, &c}) {
        m->step(90000, false, false);
        m->step(100000, true, true);
    }
    uint8_t ra[198], rb[198], rc[198];
    bool anyDifferent = false;
    for (int i = 0; i < 200; ++i) {
        a.quoteRecord(i, ra);
        b.quoteRecord(i, rb);
        c.quoteRecord(i, rc);
        ASSERT_EQ(0, std::memcmp(ra, rb, sizeof ra));
        anyDifferent = anyDifferent || std::memcmp(ra, rc, sizeof ra) != 0;
    }
    EXPECT_TRUE(anyDifferent);
}

TEST(MarketTest, PricesMoveOnlyWhileOpenAndStayWithinTheirLimits) {
    Market m(1000, 5, 20170213);
    m.step(90000, false, false);
    m.step(92000, false, true);  // orders allowed, market not open: no trade
    for (int i = 0; i < m.size(); ++i) ASSERT_EQ(m.security(i).last, 0);
    for (int32_t t = 93000; t <= 113000; t += 1000) m.step(t, true, true);
    int traded = 0;
    for (int i = 0; i < m.size(); ++i) {
        const Security& s = m.security(i);
        if (s.last == 0) continue;
        ++traded;
        EXPECT_GE(s.low, s.lowerLimit());
        EXPECT_LE(s.high, s.upperLimit());
        EXPECT_LE(s.low, s.last);
        EXPECT_GE(s.high, s.last);
        EXPECT_GT(s.volume, 0);
        EXPECT_EQ(s.last % 10, 0);  // whole cents
    }
    // Two hours at about 2 % a minute: most securities have traded.
    EXPECT_GT(traded, 500);
}

TEST(MarketTest, DeclarationsComeAndGoWithUniqueNumbers) {
    Market m(400, 9, 20170213);
    std::set<int32_t> numbers;
    size_t adds = 0, changes = 0, withdrawals = 0;
    for (int d = 0; d < 200; ++d) {
        for (const auto& c : m.moveDeclarations(93000 + d)) {
            if (c.kind == Market::DeclarationChange::Add) {
                ++adds;
                EXPECT_TRUE(numbers.insert(c.declaration.number).second);
            } else if (c.kind == Market::DeclarationChange::Change) {
                ++changes;
                EXPECT_EQ(numbers.count(c.declaration.number), 1u);
            } else {
                ++withdrawals;
                EXPECT_EQ(
                    m.activeDeclarations().count({c.declaration.security, c.declaration.number}),
                    0u);
            }
        }
    }
    EXPECT_GT(adds, 0u);
    EXPECT_GT(changes, 0u);
    EXPECT_GT(withdrawals, 0u);
    EXPECT_EQ(m.activeDeclarations().size(), adds - withdrawals);
}

TEST(MarketTest, TimeArithmetic) {
    EXPECT_EQ(AddSeconds(93000, 90), 93130);
    EXPECT_EQ(AddSeconds(235959, 10), 235959);  // never past midnight
    EXPECT_EQ(HhmmssOf(SecondsOfDay(145959) + 1), 150000);
}

}  // namespace
}  // namespace mastersim
