// The hand-written field formatter must produce the very bytes of the printf
// formats it replaces; printf is the oracle here, over edge and random values.
#include "quotes/NumberFormat.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int64_t kI64Min = std::numeric_limits<int64_t>::min();
constexpr int64_t kI64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kI32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kI32Max = std::numeric_limits<int32_t>::max();

constexpr uint64_t kPow10[] = {1,
                               10,
                               100,
                               1000,
                               10000,
                               100000,
                               1000000,
                               10000000,
                               100000000,
                               1000000000,
                               10000000000,
                               100000000000,
                               1000000000000,
                               10000000000000,
                               100000000000000,
                               1000000000000000,
                               10000000000000000,
                               100000000000000000,
                               1000000000000000000};

// What the station's printf-style code puts in a field: the text printed
// with the format, of which exactly `width` characters are kept.
std::string PrintfField(unsigned width, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
std::string PrintfField(unsigned width, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::string s(text, n > 0 ? static_cast<size_t>(n) : 0);
    if (s.size() < width) s.append(width - s.size(), ' ');
    return s.substr(0, width);
}

std::string IntRef(unsigned width, int64_t v) {
    return PrintfField(width, "%*" PRId64, static_cast<int>(width), v);
}
std::string FixedRef(unsigned width, unsigned decimals, int64_t v) {
    const double value = static_cast<double>(v) / static_cast<double>(kPow10[decimals]);
    return PrintfField(width, "%*.*f", static_cast<int>(width), static_cast<int>(decimals), value);
}
std::string ZeroFilledRef(unsigned width, unsigned spaces, unsigned digits, int64_t v) {
    return PrintfField(width, "%*s%0*" PRId64, static_cast<int>(spaces), "",
                       static_cast<int>(digits), v);
}

// The fields are written into a larger buffer: nothing outside the field may change.
template <typename F>
std::string InField(unsigned width, F&& format) {
    std::string buf(width + 16, '#');
    format(&buf[8]);
    EXPECT_EQ(buf.substr(0, 8), std::string(8, '#'));
    EXPECT_EQ(buf.substr(8 + width), std::string(8, '#'));
    return buf.substr(8, width);
}

// Values a field meets at its edges: zero, signs, type limits, the exactness
// limit of doubles, powers of ten and their neighbours (text exactly filling a
// field, or one character more).
std::vector<int64_t> EdgeValues() {
    std::vector<int64_t> v = {0,
                              1,
                              -1,
                              5,
                              -5,
                              499,
                              500,
                              -500,
                              10000,
                              10001,
                              9999,
                              93000,
                              kI32Min,
                              kI32Max,
                              kI32Min + 1,
                              kI32Max - 1,
                              int64_t{1} << 31,
                              (int64_t{1} << 32) - 1,
                              kI64Min,
                              kI64Max,
                              kI64Min + 1,
                              kI64Max - 1};
    for (int shift : {51, 52, 53, 54, 62}) {
        for (int64_t d : {-1, 0, 1}) {
            v.push_back((int64_t{1} << shift) + d);
            v.push_back(-((int64_t{1} << shift) + d));
        }
    }
    for (uint64_t p : kPow10) {
        for (int64_t d : {-1, 0, 1}) {
            const int64_t x = static_cast<int64_t>(p) + d;
            v.push_back(x);
            v.push_back(-x);
        }
    }
    return v;
}

// Random values of every magnitude (uniform bits would almost always be huge).
int64_t RandomValue(std::mt19937_64& rng) {
    const int bits = static_cast<int>(rng() % 64);
    int64_t v = static_cast<int64_t>(rng() >> (63 - bits));
    return (rng() & 1) ? -v : v;
}

TEST(NumberFormat, IntFieldMatchesPrintf) {
    std::mt19937_64 rng(20170213);
    std::vector<int64_t> values = EdgeValues();
    for (int i = 0; i < 20000; ++i) values.push_back(RandomValue(rng));
    for (unsigned width = 0; width <= 22; ++width) {
        for (int64_t v : values) {
            ASSERT_EQ(InField(width, [&](char* d) { FormatIntField(d, width, v); }),
                      IntRef(width, v))
                << "width " << width << " value " << v;
        }
    }
}

TEST(NumberFormat, FixedFieldMatchesPrintf) {
    std::mt19937_64 rng(4711);
    std::vector<int64_t> values = EdgeValues();
    for (int i = 0; i < 3000; ++i) values.push_back(RandomValue(rng));
    for (unsigned decimals = 0; decimals <= 18; ++decimals) {
        for (unsigned width : {1u, 4u, 5u, 7u, 9u, 12u, 17u, 24u, 40u}) {
            for (int64_t v : values) {
                ASSERT_EQ(InField(width, [&](char* d) { FormatFixedField(d, width, decimals, v); }),
                          FixedRef(width, decimals, v))
                    << "width " << width << " decimals " << decimals << " value " << v;
            }
        }
    }
}

// The widths and decimals that the six tables use, over many more values.
TEST(NumberFormat, FixedFieldMatchesPrintfForTableFormats) {
    struct Format {
        unsigned width, decimals;
    };
    const Format formats[] = {{9, 3}, {17, 3}, {9, 4}, {7, 2}, {7, 6}, {5, 3}, {5, 2}};
    std::mt19937_64 rng(99);
    for (const Format& f : formats) {
        for (int i = 0; i < 60000; ++i) {
            // Alternate 32-bit values (most fields) with any 64-bit value.
            const int64_t v = (i & 1) ? static_cast<int32_t>(rng()) : RandomValue(rng);
            ASSERT_EQ(
                InField(f.width, [&](char* d) { FormatFixedField(d, f.width, f.decimals, v); }),
                FixedRef(f.width, f.decimals, v))
                << "%" << f.width << "." << f.decimals << "f of " << v;
        }
    }
}

// The compile-time forms used by the record formatter, for every width and
// decimals a table uses (and a few around them).
template <unsigned W, unsigned D>
void ExpectFixedTemplateMatchesPrintf(const std::vector<int64_t>& values) {
    for (int64_t v : values) {
        if constexpr (D == 0) {
            ASSERT_EQ(InField(W, [&](char* d) { FormatIntFieldN<W>(d, v); }), IntRef(W, v))
                << "%" << W << "d of " << v;
        }
        ASSERT_EQ(InField(W, [&](char* d) { FormatFixedFieldN<W, D>(d, v); }), FixedRef(W, D, v))
            << "%" << W << "." << D << "f of " << v;
    }
}

TEST(NumberFormat, CompileTimeFormsMatchPrintf) {
    std::mt19937_64 rng(5);
    std::vector<int64_t> values = EdgeValues();
    for (int i = 0; i < 30000; ++i) values.push_back(RandomValue(rng));
    ExpectFixedTemplateMatchesPrintf<1, 0>(values);
    ExpectFixedTemplateMatchesPrintf<4, 0>(values);
    ExpectFixedTemplateMatchesPrintf<6, 0>(values);
    ExpectFixedTemplateMatchesPrintf<8, 0>(values);
    ExpectFixedTemplateMatchesPrintf<9, 0>(values);
    ExpectFixedTemplateMatchesPrintf<12, 0>(values);
    ExpectFixedTemplateMatchesPrintf<10, 0>(values);
    ExpectFixedTemplateMatchesPrintf<16, 0>(values);
    ExpectFixedTemplateMatchesPrintf<20, 0>(values);
    ExpectFixedTemplateMatchesPrintf<10, 2>(values);
    ExpectFixedTemplateMatchesPrintf<12, 3>(values);
    ExpectFixedTemplateMatchesPrintf<16, 3>(values);
    ExpectFixedTemplateMatchesPrintf<18, 5>(values);
    ExpectFixedTemplateMatchesPrintf<5, 2>(values);
    ExpectFixedTemplateMatchesPrintf<7, 2>(values);
    ExpectFixedTemplateMatchesPrintf<5, 3>(values);
    ExpectFixedTemplateMatchesPrintf<7, 3>(values);
    ExpectFixedTemplateMatchesPrintf<9, 3>(values);
    ExpectFixedTemplateMatchesPrintf<17, 3>(values);
    ExpectFixedTemplateMatchesPrintf<9, 4>(values);
    ExpectFixedTemplateMatchesPrintf<7, 6>(values);
    ExpectFixedTemplateMatchesPrintf<30, 18>(values);
}

// Fields of at most eight characters with up to seven decimals: the texts
// that are cut to such a field are cut inside one word, a path of its own.
template <unsigned W, unsigned... D>
void ExpectNarrowWidthMatchesPrintf(const std::vector<int64_t>& values,
                                    std::integer_sequence<unsigned, D...>) {
    (ExpectFixedTemplateMatchesPrintf<W, D>(values), ...);
}

template <unsigned... W>
void ExpectNarrowFormsMatchPrintf(const std::vector<int64_t>& values,
                                  std::integer_sequence<unsigned, W...>) {
    (ExpectNarrowWidthMatchesPrintf<W + 1>(values, std::make_integer_sequence<unsigned, 8>{}), ...);
}

TEST(NumberFormat, NarrowCompileTimeFormsMatchPrintf) {
    std::mt19937_64 rng(8);
    std::vector<int64_t> values = EdgeValues();
    for (int i = 0; i < 4000; ++i) values.push_back(RandomValue(rng));
    // Below 10^9, where the text is made in one word, every digit count.
    for (int i = 0; i < 4000; ++i) {
        const int64_t v = static_cast<int64_t>(rng() % kPow10[1 + rng() % 9]);
        values.push_back((rng() & 1) ? -v : v);
    }
    ExpectNarrowFormsMatchPrintf(values, std::make_integer_sequence<unsigned, 8>{});
}

TEST(NumberFormat, FixedFieldExamples) {
    struct Case {
        unsigned width, decimals;
        int64_t value;
        const char* text;
    };
    const Case cases[] = {
        {9, 3, 0, "    0.000"},
        {9, 3, -500, "   -0.500"},
        {17, 3, 123456789012, "    123456789.012"},
        {9, 3, 12345678901, "12345678."},  // twelve characters printed, nine kept
        {9, 3, 4294967295, "4294967.2"},
        {7, 6, 1000000, "1.000000"},  // eight printed: the field gets "1.00000"
    };
    for (const Case& c : cases) {
        const std::string expected = std::string(c.text).substr(0, c.width);
        EXPECT_EQ(
            InField(c.width, [&](char* d) { FormatFixedField(d, c.width, c.decimals, c.value); }),
            expected)
            << c.value;
    }
}

TEST(NumberFormat, ZeroFilledFieldMatchesPrintf) {
    std::mt19937_64 rng(7);
    std::vector<int64_t> values = EdgeValues();
    for (int i = 0; i < 5000; ++i) values.push_back(RandomValue(rng));
    for (unsigned width : {0u, 3u, 8u, 12u, 20u}) {
        for (unsigned spaces : {0u, 4u, 15u}) {
            for (unsigned digits : {0u, 1u, 8u, 13u}) {
                for (int64_t v : values) {
                    ASSERT_EQ(InField(width,
                                      [&](char* d) {
                                          FormatZeroFilledField(d, width, spaces, digits, v);
                                      }),
                              ZeroFilledRef(width, spaces, digits, v))
                        << width << "/" << spaces << "/" << digits << " value " << v;
                }
            }
        }
    }
    EXPECT_EQ(InField(12, [](char* d) { FormatZeroFilledField(d, 12, 4, 8, 93000); }),
              "    00093000");
    EXPECT_EQ(InField(12, [](char* d) { FormatZeroFilledField(d, 12, 4, 8, -7); }), "    -0000007");
}

TEST(NumberFormat, ParseDecimalFieldReadsLikeStrtoll) {
    std::mt19937_64 rng(1);
    const char alphabet[] = " \t\n\v\f\r+-0123456789x.\0\xB9";
    std::vector<std::string> texts = {"",
                                      "        ",
                                      "       0",
                                      "  123456",
                                      "-1",
                                      "+42",
                                      "  - 5",
                                      "12ab34",
                                      "000000",
                                      "99999999",
                                      "9223372036854775807",
                                      "9223372036854775808",
                                      "-9223372036854775808",
                                      "-9223372036854775809",
                                      "123456789012345678901234"};
    for (int i = 0; i < 20000; ++i) {
        std::string s(rng() % 24, ' ');
        for (char& c : s) c = alphabet[rng() % (sizeof alphabet - 1)];
        texts.push_back(s);
    }
    for (const std::string& text : texts) {
        for (size_t length = 0; length <= text.size(); ++length) {
            const std::string prefix = text.substr(0, length);  // strtoll stops at the NUL
            errno = 0;
            const long long expected = std::strtoll(prefix.c_str(), nullptr, 10);
            ASSERT_EQ(ParseDecimalField(text.data(), length), expected) << "'" << prefix << "'";
        }
    }
}

}  // namespace
