// The four-field vector lanes against printf: every byte a lane writes for a
// value it takes, and exactly which values it takes, over edge and random
// values, with each format of the tables in each of the four lanes.
#include "quotes/NumberLanes.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using numlanes::LaneFormat;

// The whole text printf prints for a lane's format, before any cut.
std::string PrintfText(LaneFormat f, int64_t v) {
    char text[512];
    if (f.decimals == 0) {
        std::snprintf(text, sizeof text, "%*" PRId64, static_cast<int>(f.width), v);
    } else {
        double divisor = 1;
        for (unsigned k = 0; k < f.decimals; ++k) divisor *= 10;
        std::snprintf(text, sizeof text, "%*.*f", static_cast<int>(f.width),
                      static_cast<int>(f.decimals), static_cast<double>(v) / divisor);
    }
    return text;
}

// Which values the lanes must take, from the printed text alone: a text that
// fits the field with at most eight digits (seven after a minus sign); for a
// format whose every text is longer than the field, the shortest texts
// (one integer digit) of positive values. Anything else is left to the
// scalar formatter.
bool LaneMustTake(LaneFormat f, const std::string& text) {
    unsigned digits = 0;
    for (char c : text) digits += (c >= '0' && c <= '9') ? 1 : 0;
    const bool negative = text.find('-') != std::string::npos;
    const size_t shortest = f.decimals + 1 + (f.decimals > 0 ? 1 : 0);
    if (shortest > f.width) return !negative && text.size() == shortest && digits <= 8;
    return text.size() <= f.width && digits <= 8 && (!negative || digits <= 7);
}

std::vector<int64_t> Values() {
    std::vector<int64_t> v = {0,
                              1,
                              -1,
                              5,
                              -5,
                              487,
                              -500,
                              93000,
                              std::numeric_limits<int32_t>::min(),
                              std::numeric_limits<int32_t>::max(),
                              std::numeric_limits<uint32_t>::max(),
                              std::numeric_limits<int64_t>::min(),
                              std::numeric_limits<int64_t>::max(),
                              std::numeric_limits<int64_t>::min() + 1,
                              std::numeric_limits<int64_t>::max() - 1};
    for (int shift : {31, 32, 52, 53, 62}) {
        for (int64_t d : {-1, 0, 1}) {
            v.push_back((int64_t{1} << shift) + d);
            v.push_back(-((int64_t{1} << shift) + d));
        }
    }
    // Every digit count and its boundaries: 10^k - 1, 10^k, 10^k + 1, and
    // the values whose low 32 bits alone would look small.
    int64_t p = 1;
    for (int k = 0; k <= 18; ++k) {
        for (int64_t d : {-1, 0, 1}) {
            v.push_back(p + d);
            v.push_back(-(p + d));
        }
        v.push_back((int64_t{1} << 32) + p);
        v.push_back(-((int64_t{1} << 32) + p));
        if (k < 18) p *= 10;  // 10^18 is the last power in int64
    }
    std::mt19937_64 rng(20261210);
    for (int i = 0; i < 6000; ++i) {
        // Uniform over digit counts 1..19, then over the values of that count.
        const int digits = 1 + static_cast<int>(rng() % 19);
        int64_t low = 1, high = 10;
        for (int k = 1; k < digits; ++k) low *= 10;
        high = digits == 19 ? std::numeric_limits<int64_t>::max() : low * 10 - 1;
        const int64_t x = low + static_cast<int64_t>(rng() % static_cast<uint64_t>(high - low));
        v.push_back((rng() & 1) ? -x : x);
    }
    return v;
}

// Fields end at different places inside separate windows, so a lane that
// wrote outside its 16 bytes, or a store in the wrong place, shows.
constexpr size_t kWindow = 48;
constexpr size_t kEnd = 32;  // a lane's field ends here; it may write [16, 32)

template <LaneFormat F0, LaneFormat F1, LaneFormat F2, LaneFormat F3>
void ExpectLanesMatchPrintf(const std::vector<int64_t>& values) {
    const LaneFormat formats[4] = {F0, F1, F2, F3};
    std::mt19937_64 rng(static_cast<uint64_t>(F0.width * 100 + F0.decimals));
    for (size_t i = 0; i < values.size(); ++i) {
        // Lane 0 walks the list; the others take values from it at random.
        int64_t v[4] = {values[i], values[rng() % values.size()], values[rng() % values.size()],
                        values[rng() % values.size()]};
        std::string buf(4 * kWindow, '#');
        char* w = buf.data();
        const unsigned missed =
            numlanes::PutFour<F0, F1, F2, F3>(w + kEnd, w + kWindow + kEnd, w + 2 * kWindow + kEnd,
                                              w + 3 * kWindow + kEnd, v[0], v[1], v[2], v[3]);
        for (unsigned lane = 0; lane < 4; ++lane) {
            const LaneFormat f = formats[lane];
            const std::string text = PrintfText(f, v[lane]);
            const std::string where = "lane " + std::to_string(lane) + " %" +
                                      std::to_string(f.width) + "." + std::to_string(f.decimals) +
                                      " of " + std::to_string(v[lane]) + " ('" + text + "')";
            const std::string window = buf.substr(lane * kWindow, kWindow);
            ASSERT_EQ(window.substr(0, kEnd - 16), std::string(kEnd - 16, '#')) << where;
            ASSERT_EQ(window.substr(kEnd), std::string(kWindow - kEnd, '#')) << where;
            const bool taken = (missed & (1u << lane)) == 0;
            ASSERT_EQ(taken, LaneMustTake(f, text)) << where;
            if (taken) {
                std::string expected = text.substr(0, f.width);
                expected.append(f.width - expected.size(), ' ');
                ASSERT_EQ(window.substr(kEnd - f.width, f.width), expected) << where;
            }
        }
    }
}

// Format F in each of the four lanes, beside the three other formats.
template <LaneFormat F, LaneFormat A, LaneFormat B, LaneFormat C>
void ExpectFormatInEveryLane(const std::vector<int64_t>& values) {
    ExpectLanesMatchPrintf<F, A, B, C>(values);
    ExpectLanesMatchPrintf<A, F, B, C>(values);
    ExpectLanesMatchPrintf<A, B, F, C>(values);
    ExpectLanesMatchPrintf<A, B, C, F>(values);
}

TEST(NumberLanes, EveryTableFormatMatchesPrintfInEveryLane) {
    if (!numlanes::LanesAvailable()) GTEST_SKIP() << "no AVX2 on this processor";
    const std::vector<int64_t> values = Values();
    // The formats of the six tables.
    ExpectFormatInEveryLane<{9, 3}, {12, 0}, {9, 4}, {7, 6}>(values);
    ExpectFormatInEveryLane<{9, 4}, {9, 3}, {9, 0}, {5, 2}>(values);
    ExpectFormatInEveryLane<{9, 0}, {12, 0}, {9, 3}, {1, 0}>(values);
    ExpectFormatInEveryLane<{12, 0}, {9, 3}, {4, 0}, {7, 2}>(values);
    ExpectFormatInEveryLane<{4, 0}, {7, 2}, {12, 0}, {8, 0}>(values);
    ExpectFormatInEveryLane<{7, 2}, {6, 0}, {5, 3}, {9, 4}>(values);
    ExpectFormatInEveryLane<{7, 6}, {7, 6}, {8, 0}, {7, 3}>(values);
    ExpectFormatInEveryLane<{8, 0}, {9, 0}, {9, 4}, {6, 0}>(values);
    ExpectFormatInEveryLane<{6, 0}, {5, 3}, {7, 3}, {9, 3}>(values);
    ExpectFormatInEveryLane<{5, 3}, {1, 0}, {5, 2}, {12, 0}>(values);
    ExpectFormatInEveryLane<{7, 3}, {4, 0}, {6, 0}, {7, 6}>(values);
    ExpectFormatInEveryLane<{1, 0}, {9, 3}, {7, 2}, {8, 0}>(values);
    ExpectFormatInEveryLane<{5, 2}, {7, 3}, {1, 0}, {9, 0}>(values);
}

TEST(NumberLanes, OtherWidthsAndDecimalsMatchPrintf) {
    if (!numlanes::LanesAvailable()) GTEST_SKIP() << "no AVX2 on this processor";
    const std::vector<int64_t> values = Values();
    // The widest field, eight digits with seven decimals, one-character
    // fields, and formats cut by one or more characters.
    ExpectFormatInEveryLane<{16, 0}, {16, 7}, {10, 7}, {2, 1}>(values);
    ExpectFormatInEveryLane<{16, 7}, {8, 7}, {3, 1}, {1, 5}>(values);
    ExpectFormatInEveryLane<{8, 7}, {9, 7}, {10, 7}, {11, 0}>(values);
    ExpectFormatInEveryLane<{3, 1}, {2, 0}, {1, 1}, {13, 2}>(values);
    ExpectFormatInEveryLane<{1, 5}, {4, 6}, {6, 5}, {2, 1}>(values);
}

// Every magnitude the lanes take, in every lane, against the C++ library's
// own conversion: the digits, the blanks and the minus sign of "%9d" for
// 0..10^8 - 1 and for its negatives down to -(10^7 - 1).
TEST(NumberLanes, EveryEightDigitValue) {
    if (!numlanes::LanesAvailable()) GTEST_SKIP() << "no AVX2 on this processor";
    constexpr LaneFormat f{9, 0};
    char buf[4][32];
    auto expected = [](int64_t v, char* text) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
        const size_t n = static_cast<size_t>(end - digits);
        std::memset(text, ' ', 9 - n);
        std::memcpy(text + 9 - n, digits, n);
    };
    for (int64_t base = -9999999; base < 100000000; base += 4) {
        const int64_t v[4] = {base, base + 1, base + 2, base + 3};
        const unsigned missed = numlanes::PutFour<f, f, f, f>(buf[0] + 16, buf[1] + 16, buf[2] + 16,
                                                              buf[3] + 16, v[0], v[1], v[2], v[3]);
        for (unsigned lane = 0; lane < 4; ++lane) {
            const bool inRange = v[lane] > -10000000 && v[lane] < 100000000;
            ASSERT_EQ((missed >> lane) & 1, inRange ? 0u : 1u) << v[lane];
            if (!inRange) continue;
            char want[9];
            expected(v[lane], want);
            ASSERT_EQ(std::memcmp(buf[lane] + 7, want, 9), 0)
                << v[lane] << ": '" << std::string(buf[lane] + 7, 9) << "'";
        }
    }
}

TEST(NumberLanes, FormatsTheLanesCannotTakeAreKnownAtCompileTime) {
    // Eight decimals need nine digits; a field wider than one 16-byte store.
    static_assert(!numlanes::LaneCanFormat({12, 8}));
    static_assert(!numlanes::LaneCanFormat({17, 3}));
    static_assert(!numlanes::LaneCanFormat({0, 0}));
    static_assert(numlanes::LaneCanFormat({7, 6}));
    static_assert(numlanes::LaneCanFormat({16, 7}));
    // The limits of the commonest formats: "99999.999" and "-9999.999".
    static_assert(numlanes::MakeLaneConstants({9, 3}).high == 100000000);
    static_assert(numlanes::MakeLaneConstants({9, 3}).low == -10000000);
    // No negative value fits "%5.3f"; "%7.6f" keeps seven of eight characters.
    static_assert(numlanes::MakeLaneConstants({5, 3}).low == -1);
    static_assert(numlanes::MakeLaneConstants({7, 6}).cut == 1);
    SUCCEED();
}

}  // namespace
