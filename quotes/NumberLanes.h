#pragma once
// Four numeric fields at once in the lanes of one AVX2 register: the record
// formatter's fast path for the numbers that make up most of every image.
//
// Each lane carries one field's value and produces the same text as the
// scalar formatter (FormatIntFieldN / FormatFixedFieldN) when that text is
// at most eight digits, a point and a sign, and fits its field; any other
// value is reported back and must be formatted by the scalar code, which
// covers every case. The lanes use only exact integer arithmetic on the
// value's magnitude: below 10^8 the decimal digits of value / 10^d that
// printf prints are the integer's own digits (see kExactLimit).
//
// A lane writes 16 bytes that END at its field's end: the field, right-
// aligned, and ahead of it bytes that belong to earlier fields. The caller
// therefore formats fields from the last to the first and writes every other
// field (text, scalar numbers) after all lanes.
#include <array>
#include <cstdint>

#include "quotes/NumberFormat.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define TAVREL_NUMBER_LANES 1
#include <immintrin.h>
#define TAVREL_LANES_AVX2 __attribute__((target("avx2")))
#else
#define TAVREL_NUMBER_LANES 0
#define TAVREL_LANES_AVX2
#endif

namespace numlanes {

// The printf format of a lane: "%<width>d" when decimals is 0, else
// "%<width>.<decimals>f" of value / 10^decimals.
struct LaneFormat {
    unsigned width;
    unsigned decimals;
};

// What a lane needs to know of its format, all fixed at compile time.
struct LaneConstants {
    // A value v is written by the lane when low < v < high; outside, the text
    // would need more than the eight digit places, or would not fit the
    // field, or the sign would not find a blank place ahead of the digits.
    int64_t high;
    int64_t low;
    // Bytes of the eight-digit text that may turn into blanks: all but the
    // last decimals + 1 (printf keeps one digit before the point).
    uint64_t blankable;
    // Characters cut off the end of every text the lane writes (a format
    // whose shortest text is longer than its field); 0 otherwise.
    unsigned cut;
};

constexpr int64_t Pow10(unsigned n) {
    int64_t p = 1;
    while (n-- > 0) p *= 10;
    return p;
}

// The text of value v is sign, max(digits(|v|), decimals + 1) digits and,
// with decimals, a point: it fits `width` when that digit count is at most
// width - point - sign. In the lane at most eight digits are made, and a
// minus sign needs a blank digit place ahead of the number (at most seven
// digits kept).
//
// A format whose texts never fit (as "%7.6f": at least eight characters)
// keeps the first `width` characters of each. The lane takes the texts of one
// length only, the shortest: the positive values below 10^(decimals + 1),
// one digit, the point and the decimals, so that the cut is the same for all.
constexpr LaneConstants MakeLaneConstants(LaneFormat f) {
    const unsigned point = f.decimals > 0 ? 1 : 0;
    const unsigned kept = f.decimals + 1;
    auto limit = [&](unsigned sign, unsigned places) -> int64_t {
        if (f.width < point + sign) return 0;
        unsigned room = f.width - point - sign;
        if (room > places) room = places;
        return kept <= room ? Pow10(room) : 0;
    };
    LaneConstants c{};
    c.blankable = kept >= 8 ? 0 : ~0ULL >> (8 * kept);
    const int64_t positive = limit(0, 8);
    if (positive == 0) {
        if (kept > 8) return c;  // nothing for the lane: high 0
        c.high = Pow10(kept);
        c.low = -1;
        c.cut = kept + point - f.width;
        return c;
    }
    const int64_t negative = limit(1, 7);
    c.high = positive;
    // v > low: with no negative value allowed, v >= 0.
    c.low = negative > 0 ? -negative : -1;
    return c;
}

// A format the lanes can take: at most 16 wide (one 16-byte store) and with
// some value for them.
constexpr bool LaneCanFormat(LaneFormat f) {
    return f.width >= 1 && f.width <= 16 && f.decimals <= numfmt_detail::kMaxDecimals &&
           MakeLaneConstants(f).high > 0;
}

// The 16-byte picture of a lane's text, right-aligned (its last `cut`
// characters pushed out of the end): byte p of the picture is byte
// control[p] of the lane's eight text bytes, or, where control has its high
// bit, the byte fill[p] (a leading space, the point).
struct PictureBytes {
    std::array<int8_t, 16> control;
    std::array<int8_t, 16> fill;
};

// The text bytes sit in the low (qword 0) or high (qword 1) half of the
// 128-bit lane that the picture is made in.
constexpr PictureBytes MakePicture(LaneFormat f, unsigned qword) {
    PictureBytes b{};
    const unsigned d = f.decimals;
    const unsigned base = 8 * qword;
    const unsigned cut = MakeLaneConstants(f).cut;
    for (unsigned p = 0; p < 16; ++p) {
        b.control[p] = static_cast<int8_t>(0x80);
        b.fill[p] = ' ';
    }
    // Digits 0..7-d are the integer part, 8-d..7 the decimals; with
    // decimals the integer part moves one place left to make room for the
    // point.
    for (unsigned i = 0; i < 8; ++i) {
        const bool decimal = d > 0 && i + d >= 8;
        const unsigned p = ((d == 0 || decimal) ? 8 + i : 7 + i) + cut;
        if (p >= 16) continue;
        b.control[p] = static_cast<int8_t>(base + i);
        b.fill[p] = 0;
    }
    if (d > 0 && 15 - d + cut < 16) b.fill[15 - d + cut] = '.';
    return b;
}

// Everything a group of four lanes needs besides the values, laid out as
// 32-byte rows that the instructions read straight from memory.
struct GroupConstants {
    alignas(32) std::array<int64_t, 4> tooHigh;  // v > tooHigh[i]: not for lane i
    alignas(32) std::array<int64_t, 4> tooLow;   // v < tooLow[i]: not for lane i
    alignas(32) std::array<uint64_t, 4> blankable;
    // Pictures of lanes 0 and 2 (qword 0 of each 128-bit half), of 1 and 3.
    alignas(32) std::array<int8_t, 32> evenControl;
    alignas(32) std::array<int8_t, 32> evenFill;
    alignas(32) std::array<int8_t, 32> oddControl;
    alignas(32) std::array<int8_t, 32> oddFill;
};

template <LaneFormat F0, LaneFormat F1, LaneFormat F2, LaneFormat F3>
inline constexpr GroupConstants kGroupConstants = [] {
    GroupConstants g{};
    const LaneFormat formats[4] = {F0, F1, F2, F3};
    for (unsigned i = 0; i < 4; ++i) {
        const LaneConstants c = MakeLaneConstants(formats[i]);
        g.tooHigh[i] = c.high - 1;
        g.tooLow[i] = c.low + 1;
        g.blankable[i] = c.blankable;
    }
    const PictureBytes p0 = MakePicture(F0, 0), p1 = MakePicture(F1, 1), p2 = MakePicture(F2, 0),
                       p3 = MakePicture(F3, 1);
    for (unsigned b = 0; b < 16; ++b) {
        g.evenControl[b] = p0.control[b];
        g.evenControl[16 + b] = p2.control[b];
        g.evenFill[b] = p0.fill[b];
        g.evenFill[16 + b] = p2.fill[b];
        g.oddControl[b] = p1.control[b];
        g.oddControl[16 + b] = p3.control[b];
        g.oddFill[b] = p1.fill[b];
        g.oddFill[16 + b] = p3.fill[b];
    }
    return g;
}();

// The same in every lane.
struct CommonConstants {
    alignas(32) std::array<uint64_t, 4> div10000Magic;  // m * magic >> 45 is m / 10^4
    alignas(32) std::array<uint64_t, 4> ten4;
    alignas(32) std::array<uint32_t, 8> div100Magic;  // x * magic >> 20 is x / 100
    alignas(32) std::array<uint32_t, 8> hundred;
    alignas(32) std::array<uint16_t, 16> div10Magic;  // y * magic >> 16 is y / 10
    alignas(32) std::array<uint16_t, 16> pairShift;   // 10 * 256 - 1
    alignas(32) std::array<uint64_t, 4> one;
    alignas(32) std::array<uint64_t, 4> zeroChars;  // '0' per byte
    alignas(32) std::array<uint64_t, 4> toBlank;    // '0' ^ ' '
    alignas(32) std::array<uint64_t, 4> toMinus;    // ' ' ^ '-'
};

inline constexpr CommonConstants kCommon = [] {
    CommonConstants c{};
    for (unsigned i = 0; i < 4; ++i) {
        c.div10000Magic[i] = 0xD1B71759;
        c.ten4[i] = 10000;
        c.one[i] = 1;
        c.zeroChars[i] = 0x3030303030303030ULL;
        c.toBlank[i] = 0x1010101010101010ULL;
        c.toMinus[i] = 0x0D0D0D0D0D0D0D0DULL;
    }
    for (unsigned i = 0; i < 8; ++i) {
        c.div100Magic[i] = 10486;
        c.hundred[i] = 100;
    }
    for (unsigned i = 0; i < 16; ++i) {
        c.div10Magic[i] = 6554;
        c.pairShift[i] = 10 * 256 - 1;
    }
    return c;
}();

#if TAVREL_NUMBER_LANES

// The constants by an address the compiler cannot see through: it then
// reads each row from memory as an instruction operand, where it would
// otherwise rebuild the known value in a register every time (three
// instructions for a repeated 64-bit pattern).
template <typename T>
inline const T& Opaque(const T& object) {
    const T* p = &object;
    __asm__("" : "+r"(p));
    return *p;
}

template <typename A>
TAVREL_LANES_AVX2 inline __m256i Row(const A& row) {
    static_assert(sizeof(A) == 32, "a row is one register; rows are declared alignas(32)");
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(row.data()));
}

// Writes the fields of four values. Lane i formats v_i with format F_i into
// the field that ends just before end_i, storing the 16 bytes before end_i
// in the order 0, 1, 2, 3. Returns a bit mask of the lanes whose value the
// lanes could not take (bit i for lane i): their field holds garbage and
// must be written by the scalar formatter.
template <LaneFormat F0, LaneFormat F1, LaneFormat F2, LaneFormat F3>
TAVREL_LANES_AVX2 inline unsigned PutFour(char* end0, char* end1, char* end2, char* end3,
                                          int64_t v0, int64_t v1, int64_t v2, int64_t v3) {
    static_assert(LaneCanFormat(F0) && LaneCanFormat(F1) && LaneCanFormat(F2) && LaneCanFormat(F3));
    const GroupConstants& g = Opaque(kGroupConstants<F0, F1, F2, F3>);
    const CommonConstants& k = Opaque(kCommon);
    // Lane i is qword i: lanes 0 and 1 in the low 128 bits, 2 and 3 high.
    const __m256i v = _mm256_set_epi64x(v3, v2, v1, v0);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i negative = _mm256_cmpgt_epi64(zero, v);
    const __m256i outside = _mm256_or_si256(_mm256_cmpgt_epi64(v, Row(g.tooHigh)),
                                            _mm256_cmpgt_epi64(Row(g.tooLow), v));
    const unsigned missed = static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(outside)));

    // |v| in the low 32 bits of each lane: in the lanes that fit, |v| < 10^8,
    // so the low half of v is v as an int32. The high halves are not used
    // (multiplies read the low halves, the shift below drops them). The other
    // lanes compute garbage.
    const __m256i m = _mm256_abs_epi32(v);

    // Eight decimal digits as byte values, the most significant in the lowest
    // byte, as numfmt_detail::EightDigits computes them in one word: split
    // into 4-digit halves, then 2-digit, then 1-digit parts, every division a
    // multiply and shift that is exact in its range.
    const __m256i high4 = _mm256_srli_epi64(_mm256_mul_epu32(m, Row(k.div10000Magic)), 45);
    const __m256i low4 = _mm256_sub_epi32(m, _mm256_mul_epu32(high4, Row(k.ten4)));
    const __m256i merged = _mm256_or_si256(high4, _mm256_slli_epi64(low4, 32));
    // Each 32-bit part x < 10^4: x * 10486 >> 20 is x / 100. The upper 16 bits
    // of every part are 0, so the pairwise multiply-add is a plain product.
    const __m256i div100 = _mm256_srli_epi32(_mm256_madd_epi16(merged, Row(k.div100Magic)), 20);
    const __m256i hundreds = _mm256_add_epi32(
        _mm256_slli_epi32(_mm256_sub_epi32(merged, _mm256_mullo_epi16(div100, Row(k.hundred))), 16),
        div100);
    // Each 16-bit part y < 100: y * 6554 >> 16 is y / 10, and
    // (y << 8) - (y / 10) * (10 * 256 - 1) is y % 10 in the high byte and
    // y / 10 in the low one.
    const __m256i div10 = _mm256_mulhi_epu16(hundreds, Row(k.div10Magic));
    const __m256i digits = _mm256_sub_epi16(_mm256_slli_epi16(hundreds, 8),
                                            _mm256_mullo_epi16(div10, Row(k.pairShift)));

    // Leading zeros become blanks: the bytes ahead of the first non-zero
    // digit, as far as the format lets them go. In the mask of zero digits
    // (0xFF bytes) these are the trailing ones: the bits that adding 1 clears.
    const __m256i zeros = _mm256_cmpeq_epi8(digits, zero);
    const __m256i ahead = _mm256_andnot_si256(_mm256_add_epi64(zeros, Row(k.one)), zeros);
    const __m256i blank = _mm256_and_si256(ahead, Row(g.blankable));
    // The last blank of a negative value takes the sign.
    const __m256i signPlace =
        _mm256_and_si256(_mm256_xor_si256(blank, _mm256_srli_epi64(blank, 8)), negative);
    const __m256i flips = _mm256_or_si256(_mm256_and_si256(blank, Row(k.toBlank)),
                                          _mm256_and_si256(signPlace, Row(k.toMinus)));
    const __m256i text = _mm256_xor_si256(_mm256_or_si256(digits, Row(k.zeroChars)), flips);

    const __m256i even =
        _mm256_or_si256(_mm256_shuffle_epi8(text, Row(g.evenControl)), Row(g.evenFill));
    const __m256i odd =
        _mm256_or_si256(_mm256_shuffle_epi8(text, Row(g.oddControl)), Row(g.oddFill));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(end0 - 16), _mm256_castsi256_si128(even));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(end1 - 16), _mm256_castsi256_si128(odd));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(end2 - 16), _mm256_extracti128_si256(even, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(end3 - 16), _mm256_extracti128_si256(odd, 1));
    return missed;
}

// The lanes can be used on this processor.
bool LanesAvailable();

#else

inline bool LanesAvailable() {
    return false;
}

#endif

}  // namespace numlanes
