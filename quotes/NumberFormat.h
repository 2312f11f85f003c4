#pragma once
// Fixed-width decimal text of DBF numeric fields. Every table write formats
// dozens of numbers per record, so these are written by hand instead of going
// through snprintf; each produces exactly the bytes that the printf format in
// its comment would, cut to the field's width (the text a trading system has
// always read from these tables, overflow included).
//
// Two forms: functions taking the width and decimals at run time, and inline
// templates with both fixed at compile time for the record formatter's hot
// path. They produce the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>

// The first `width` characters of "%<width>lld" of value: right-aligned,
// space-filled; a longer text keeps its leading characters.
void FormatIntField(char* dst, unsigned width, int64_t value);

// The first `width` characters of "%<width>.<decimals>f" of value / 10^decimals,
// the division done in double precision as a C program would. decimals above
// 18 are taken as 18.
void FormatFixedField(char* dst, unsigned width, unsigned decimals, int64_t scaled);

// The first `width` characters of `spaces` spaces followed by "%0<digits>lld"
// of value (zero-filled after the sign to at least `digits` characters); a
// text shorter than the field is followed by spaces.
void FormatZeroFilledField(char* dst, unsigned width, unsigned spaces, unsigned digits,
                           int64_t value);

// The number at the start of a fixed-width text field, read the way the C
// library's strtoll reads it, but never beyond `length` bytes: leading white
// space skipped, an optional sign, then digits up to the first other byte; 0
// when there is no digit; the int64 limits when the digits overflow.
int64_t ParseDecimalField(const char* text, size_t length);

namespace numfmt_detail {

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline constexpr uint64_t kPow10[] = {1ULL,
                                      10ULL,
                                      100ULL,
                                      1000ULL,
                                      10000ULL,
                                      100000ULL,
                                      1000000ULL,
                                      10000000ULL,
                                      100000000ULL,
                                      1000000000ULL,
                                      10000000000ULL,
                                      100000000000ULL,
                                      1000000000000ULL,
                                      10000000000000ULL,
                                      100000000000000ULL,
                                      1000000000000000ULL,
                                      10000000000000000ULL,
                                      100000000000000000ULL,
                                      1000000000000000000ULL};
inline constexpr unsigned kMaxDecimals = 18;

// Below this magnitude value / 10^d in double precision is within half a unit
// of the last printed decimal of the exact quotient (the quotient's rounding
// error is at most |value| * 2^-53 units of 10^-d), so the exact decimal
// digits of the integer are what printf prints. Larger values take printf.
inline constexpr uint64_t kExactLimit = 1ULL << 52;

inline uint64_t Magnitude(int64_t v) {
    return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
}

inline void PutPair(char* at, unsigned value) {
    std::memcpy(at, &kDigitPairs[value * 2], 2);
}

// Writes the decimal digits of u so that they end just before `end`; returns
// the first digit. Writes at least one digit.
inline char* PutDigits(char* end, uint64_t u) {
    // Most numbers fit 32 bits, whose divisions are cheaper.
    while (u > 0xFFFFFFFFu) {
        end -= 2;
        PutPair(end, static_cast<unsigned>(u % 100));
        u /= 100;
    }
    uint32_t v = static_cast<uint32_t>(u);
    while (v >= 100) {
        end -= 2;
        PutPair(end, v % 100);
        v /= 100;
    }
    if (v >= 10) {
        end -= 2;
        PutPair(end, v);
    } else {
        *--end = static_cast<char>('0' + v);
    }
    return end;
}

// Writes exactly `count` digits of u (zero-filled on the left) ending before
// `end`; returns the first.
inline char* PutFixedDigits(char* end, uint64_t u, unsigned count) {
    char* first = end - count;
    while (count >= 2) {
        end -= 2;
        PutPair(end, static_cast<unsigned>(u % 100));
        u /= 100;
        count -= 2;
    }
    if (count == 1) *--end = static_cast<char>('0' + u % 10);
    return first;
}

// The out-of-line printf path for magnitudes beyond kExactLimit.
void FormatFixedWithPrintf(char* dst, unsigned width, unsigned decimals, int64_t scaled);

// Copies a text that ends at `end` into a field of Width: the Width bytes
// before `end` (spaces ahead of the text) when it fits, its first Width
// characters otherwise. The scratch buffer holds at least Width bytes before
// `end`, spaces where the text did not overwrite them.
template <unsigned Width>
inline void EmitFixed(char* dst, const char* first, const char* end) {
    if (static_cast<size_t>(end - first) <= Width) {
        std::memcpy(dst, end - Width, Width);
    } else {
        std::memcpy(dst, first, Width);
    }
}

}  // namespace numfmt_detail

// FormatIntField with the width fixed at compile time.
template <unsigned Width>
inline void FormatIntFieldN(char* dst, int64_t value) {
    using namespace numfmt_detail;
    char text[Width + 24];
    char* end = text + sizeof text;
    std::memset(end - Width, ' ', Width);
    char* first = PutDigits(end, Magnitude(value));
    if (value < 0) *--first = '-';
    EmitFixed<Width>(dst, first, end);
}

// FormatFixedField with the width and decimals fixed at compile time.
template <unsigned Width, unsigned Decimals>
inline void FormatFixedFieldN(char* dst, int64_t scaled) {
    using namespace numfmt_detail;
    static_assert(Decimals <= kMaxDecimals);
    const uint64_t magnitude = Magnitude(scaled);
    if (magnitude >= kExactLimit) [[unlikely]] {
        FormatFixedWithPrintf(dst, Width, Decimals, scaled);
        return;
    }
    char text[Width + 24 + Decimals];
    char* end = text + sizeof text;
    std::memset(end - Width, ' ', Width);
    char* first;
    if constexpr (Decimals == 0) {
        first = PutDigits(end, magnitude);
    } else {
        constexpr uint64_t unit = kPow10[Decimals];
        first = PutFixedDigits(end, magnitude % unit, Decimals);
        *--first = '.';
        first = PutDigits(first, magnitude / unit);
    }
    if (scaled < 0) *--first = '-';
    EmitFixed<Width>(dst, first, end);
}
